#include "lineup_command.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace quon {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

constexpr std::chrono::seconds give_up{10};

struct page_address {
    bool tls = false;
    std::string host;  // as the URL names it, without brackets
    std::string port;
};

// "http[s]://HOST[:PORT][/]", HOST a name, an IPv4 address or a bracketed
// IPv6 one.
std::optional<page_address> readPage(const std::string& url) {
    page_address out;
    std::string rest;
    if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        out.tls = true;
        rest = url.substr(8);
    } else {
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.empty() || rest.find('/') != std::string::npos) return std::nullopt;
    std::size_t colon = rest.rfind(':');
    if (rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        out.host = rest.substr(1, close - 1);
        colon = close + 1 < rest.size() ? close + 1 : std::string::npos;
        if (colon != std::string::npos && rest[colon] != ':') return std::nullopt;
    } else {
        out.host = rest.substr(0, colon);
    }
    out.port = colon == std::string::npos ? (out.tls ? "443" : "80") : rest.substr(colon + 1);
    if (out.host.empty() || out.port.empty() || out.port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return out;
}

// The token: the first line of its file, or $QUON_CONTROL_TOKEN; never an
// argument, which every user of the machine can read.
std::optional<std::string> readToken(const std::string& file, std::string& error) {
    std::string token;
    if (!file.empty()) {
        std::ifstream in(file);
        if (!in || !std::getline(in, token)) {
            error = "cannot read the control token from " + file;
            return std::nullopt;
        }
    } else if (const char* value = std::getenv("QUON_CONTROL_TOKEN")) {
        token = value;
    }
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
    if (token.empty()) {
        error = "no control token: give --token-file FILE or set QUON_CONTROL_TOKEN (the wall file's [control] token)";
        return std::nullopt;
    }
    return token;
}

template <class Stream>
http::response<http::string_body> postAndRead(Stream& stream, const http::request<http::string_body>& request) {
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(stream, buffer, response);
    return response;
}

}  // namespace

int runLineup(const lineup_command& command) {
    const std::optional<page_address> page = readPage(command.page);
    if (!page) {
        std::fprintf(stderr, "quon-host lineup: --page %s is not http://HOST:PORT or https://HOST:PORT\n",
                     command.page.c_str());
        return 2;
    }
    std::string error;
    const std::optional<std::string> token = readToken(command.tokenFile, error);
    if (!token) {
        std::fprintf(stderr, "quon-host lineup: %s\n", error.c_str());
        return 2;
    }
    std::string body;
    for (const std::string& word : command.words) body += (body.empty() ? "" : " ") + word;
    http::request<http::string_body> request{http::verb::post, "/api/lineup", 11};
    request.set(http::field::host, page->host.find(':') != std::string::npos ? "[" + page->host + "]:" + page->port
                                                                             : page->host + ":" + page->port);
    request.set(http::field::authorization, "Bearer " + *token);
    request.set(http::field::content_type, "text/plain; charset=utf-8");
    request.body() = body;
    request.prepare_payload();
    http::response<http::string_body> response;
    try {
        asio::io_context io;
        asio::ip::tcp::resolver resolver(io);
        const auto found = resolver.resolve(page->host, page->port);
        if (!page->tls) {
            beast::tcp_stream stream(io);
            stream.expires_after(give_up);
            stream.connect(found);
            response = postAndRead(stream, request);
        } else {
            asio::ssl::context tls(asio::ssl::context::tls_client);
            tls.set_default_verify_paths();
            if (!command.caFile.empty()) tls.load_verify_file(command.caFile);
            tls.set_verify_mode(asio::ssl::verify_peer);
            beast::ssl_stream<beast::tcp_stream> stream(io, tls);
            stream.set_verify_callback(asio::ssl::host_name_verification(page->host));
            if (!SSL_set_tlsext_host_name(stream.native_handle(), page->host.c_str()))
                throw beast::system_error(beast::error_code(static_cast<int>(::ERR_get_error()),
                                                            asio::error::get_ssl_category()));
            beast::get_lowest_layer(stream).expires_after(give_up);
            beast::get_lowest_layer(stream).connect(found);
            stream.handshake(asio::ssl::stream_base::client);
            response = postAndRead(stream, request);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quon-host lineup: %s: %s\n", command.page.c_str(), e.what());
        return 2;
    }
    if (response.result() == http::status::ok) return 0;
    std::string answer = response.body();
    while (!answer.empty() && answer.back() == '\n') answer.pop_back();
    std::fprintf(stderr, "quon-host lineup: %d: %s\n", static_cast<int>(response.result_int()), answer.c_str());
    return 1;
}

}  // namespace quon
