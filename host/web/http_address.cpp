#include "quon/web/http_address.h"

#include <boost/asio/ip/address.hpp>
#include <cctype>

namespace quon::web {

namespace {

bool parsePort(const std::string& text, unsigned short& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<unsigned short>(value);
    return true;
}

}  // namespace

bool parseHttpAddress(const std::string& text, std::string& address, unsigned short& port, std::string& error) {
    std::string host;
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "\"" + text + "\": expected [ADDRESS]:PORT";
            return false;
        }
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        if (host.empty()) {
            error = "\"" + text + "\": empty address";
            return false;
        }
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) {
            portText = text;
        } else {
            host = text.substr(0, colon);
            portText = text.substr(colon + 1);
            if (host.find(':') != std::string::npos) {
                error = "\"" + text + "\": write an IPv6 address in brackets, e.g. [::1]:8080";
                return false;
            }
        }
    }
    if (!parsePort(portText, port)) {
        error = "\"" + text + "\": \"" + portText + "\" is not a port number (0 to 65535)";
        return false;
    }
    if (host.empty()) {
        address = "127.0.0.1";
        return true;
    }
    boost::system::error_code failure;
    const auto parsed = boost::asio::ip::make_address(host, failure);
    if (failure) {
        error = "\"" + text + "\": \"" + host + "\" is not a numeric IP address";
        return false;
    }
    address = parsed.to_string();
    return true;
}

bool isLoopbackAddress(const std::string& address) {
    boost::system::error_code failure;
    const auto parsed = boost::asio::ip::make_address(address, failure);
    if (failure) return false;
    if (parsed.is_v6() && parsed.to_v6().is_v4_mapped())
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, parsed.to_v6()).is_loopback();
    return parsed.is_loopback();
}

}  // namespace quon::web
