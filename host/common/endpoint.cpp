#include "quon/common/endpoint.h"

#include <cctype>

#include "quon/common/decimal.h"

namespace quon {

namespace {

bool hostCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'; }

}  // namespace

std::string endpointText(const std::string& host, std::uint16_t port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseEndpoint(std::string_view text, endpoint_text& out, std::string& error) {
    endpoint_text result;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "an IPv6 address ends with ']'";
            return false;
        }
        result.host = std::string(text.substr(1, close - 1));
        if (result.host.empty()) {
            error = "empty address";
            return false;
        }
        for (const char c : result.host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
                error = "\"" + result.host + "\" is not an IPv6 address";
                return false;
            }
        rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            error = "expected [ADDRESS]:PORT";
            return false;
        }
    } else {
        const size_t colon = text.rfind(':');
        result.host = std::string(text.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
        if (result.host.find(':') != std::string::npos) {
            error = "write an IPv6 address in brackets, e.g. [::1]:8080";
            return false;
        }
        for (const char c : result.host)
            if (!hostCharacter(c)) {
                error = "\"" + result.host + "\" is not a host name or address";
                return false;
            }
    }
    if (!rest.empty()) {
        long long port = 0;
        const std::string_view digits = rest.substr(1);
        if (!parseDecimal(digits, 0, 65535, port) || digits.front() == '-') {
            const bool number = !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
            error = number ? "port " + std::string(digits) + " is out of range (a port is at most 65535)"
                           : "\"" + std::string(digits) + "\" is not a port number";
            return false;
        }
        result.port = static_cast<std::uint16_t>(port);
    }
    if (result.host.empty() && !result.port) {
        error = "no host and no port";
        return false;
    }
    out = std::move(result);
    return true;
}

}  // namespace quon
