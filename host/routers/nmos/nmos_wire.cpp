#include "quon/routers/nmos/nmos_wire.h"

#include "quon/common/endpoint.h"

#include <algorithm>
#include <cctype>

#include <boost/beast/core/detail/base64.hpp>
#include <boost/beast/websocket/detail/hybi13.hpp>

namespace quon::routers::nmos {

namespace {

std::string head(const char* method, const std::string& authority, const std::string& path) {
    return std::string(method) + " " + path + " HTTP/1.1\r\nHost: " + authority + "\r\n";
}

}  // namespace

std::string httpGet(const std::string& authority, const std::string& path) {
    return head("GET", authority, path) + "Accept: application/json\r\n\r\n";
}

std::string httpPost(const std::string& authority, const std::string& path, const std::string& json) {
    return head("POST", authority, path) +
           "Accept: application/json\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(json.size()) + "\r\n\r\n" + json;
}

std::string webSocketOpen(const std::string& authority, const std::string& path, const std::string& key) {
    return head("GET", authority, path) + "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
           "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

std::string webSocketKey(const std::array<std::uint8_t, 16>& bytes) {
    std::string key(boost::beast::detail::base64::encoded_size(bytes.size()), '\0');
    key.resize(boost::beast::detail::base64::encode(key.data(), bytes.data(), bytes.size()));
    return key;
}

std::string webSocketAccept(const std::string& key) {
    boost::beast::websocket::detail::sec_ws_accept_type accept;
    boost::beast::websocket::detail::make_sec_ws_accept(accept, key);
    return std::string(accept.data(), accept.size());
}

std::optional<std::string> nextLink(std::string_view header) {
    // Link: <url>; rel="next", <url>; rel="prev"
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t open = header.find('<', at);
        if (open == std::string_view::npos) return std::nullopt;
        const std::size_t close = header.find('>', open);
        if (close == std::string_view::npos) return std::nullopt;
        const std::size_t end = std::min(header.find('<', close), header.size());
        const std::string_view params = header.substr(close + 1, end - close - 1);
        if (params.find("rel=\"next\"") != std::string_view::npos || params.find("rel=next") != std::string_view::npos)
            return pathOf(header.substr(open + 1, close - open - 1));
        at = end;
    }
    return std::nullopt;
}

std::string pathOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::string(url);
    const std::size_t slash = url.find('/', scheme + 3);
    return slash == std::string_view::npos ? std::string("/") : std::string(url.substr(slash));
}

std::optional<web_socket_url> readWebSocketUrl(std::string_view url, std::string& why) {
    web_socket_url out;
    const auto lower = [](std::string_view text) {
        std::string low(text);
        for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return low;
    };
    const std::size_t scheme = url.find("://");
    std::string_view rest = url;
    if (scheme != std::string_view::npos) {
        const std::string name = lower(url.substr(0, scheme));
        if (name != "ws" && name != "wss") {
            why = "is not a ws:// or wss:// URL";
            return std::nullopt;
        }
        out.tls = name == "wss";
        rest = url.substr(scheme + 3);
        const std::size_t slash = std::min(rest.find('/'), rest.size());
        out.authority = std::string(rest.substr(0, slash));
        endpoint_text where;
        std::string error;
        if (!parseEndpoint(out.authority, where, error) || where.host.empty() || (where.port && *where.port == 0)) {
            why = "names no host and port this link can connect to" + (error.empty() ? "" : ": " + error);
            return std::nullopt;
        }
        out.host = where.host;
        out.port = where.port.value_or(out.tls ? 443 : 80);
        rest = rest.substr(slash);
        if (rest.empty()) rest = "/";
    }
    out.path = std::string(rest);
    const bool printable = std::all_of(out.path.begin(), out.path.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    if (out.path.empty() || out.path[0] != '/' || out.path.size() > 8192 || !printable) {
        why = "has no path a request line can hold";
        return std::nullopt;
    }
    return out;
}

std::string clientFrame(opcode op, std::string_view payload, const std::array<std::uint8_t, 4>& mask) {
    std::string frame;
    frame += static_cast<char>(0x80 | static_cast<std::uint8_t>(op));
    const std::size_t n = payload.size();
    if (n < 126) {
        frame += static_cast<char>(0x80 | n);
    } else if (n <= 0xFFFF) {
        frame += static_cast<char>(0x80 | 126);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n & 0xFF);
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += static_cast<char>((static_cast<std::uint64_t>(n) >> shift) & 0xFF);
    }
    for (const std::uint8_t m : mask) frame += static_cast<char>(m);
    for (std::size_t i = 0; i < n; ++i) frame += static_cast<char>(static_cast<std::uint8_t>(payload[i]) ^ mask[i % 4]);
    return frame;
}

void frame_reader::reset() {
    buffer_.clear();
    message_.clear();
    fragmented_ = failed_ = false;
}

std::optional<frame_reader::event> frame_reader::next() {
    const auto error = [this](std::string why) {
        failed_ = true;
        buffer_.clear();
        message_.clear();
        return event{event::kind::error, std::move(why)};
    };
    while (!failed_) {
        const auto byte = [this](std::size_t i) { return static_cast<std::uint8_t>(buffer_[i]); };
        if (buffer_.size() < 2) return std::nullopt;
        const bool fin = (byte(0) & 0x80) != 0;
        const auto op = static_cast<opcode>(byte(0) & 0x0F);
        if ((byte(0) & 0x70) != 0) return error("a WebSocket frame with reserved bits set (no extension was agreed)");
        const bool masked = (byte(1) & 0x80) != 0;
        std::uint64_t length = byte(1) & 0x7F;
        std::size_t at = 2;
        if (length >= 126) {
            const std::size_t bytes = length == 126 ? 2 : 8;
            if (buffer_.size() < at + bytes) return std::nullopt;
            length = 0;
            for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | byte(at + i);
            at += bytes;
        }
        const bool control = (static_cast<std::uint8_t>(op) & 0x08) != 0;
        if (control && (length > 125 || !fin))
            return error("a WebSocket control frame longer than 125 bytes or fragmented");
        if (length > maxMessage_ || message_.size() + length > maxMessage_)
            return error("a WebSocket message of more than " + std::to_string(maxMessage_) + " bytes");
        std::array<std::uint8_t, 4> mask{};
        if (masked) {
            if (buffer_.size() < at + 4) return std::nullopt;
            for (std::size_t i = 0; i < 4; ++i) mask[i] = byte(at + i);
            at += 4;
        }
        if (buffer_.size() < at + length) return std::nullopt;
        std::string payload = buffer_.substr(at, static_cast<std::size_t>(length));
        buffer_.erase(0, at + static_cast<std::size_t>(length));
        if (masked)
            for (std::size_t i = 0; i < payload.size(); ++i)
                payload[i] = static_cast<char>(static_cast<std::uint8_t>(payload[i]) ^ mask[i % 4]);
        switch (op) {
            case opcode::ping: return event{event::kind::ping, std::move(payload)};
            case opcode::pong: return event{event::kind::pong, std::move(payload)};
            case opcode::close: return event{event::kind::close, std::move(payload)};
            case opcode::text:
            case opcode::binary:
                if (fragmented_) return error("a new WebSocket message began before the last one ended");
                if (fin) return event{event::kind::message, std::move(payload)};
                fragmented_ = true;
                message_ = std::move(payload);
                continue;
            case opcode::continuation:
                if (!fragmented_) return error("a WebSocket continuation frame without a message to continue");
                message_ += payload;
                if (!fin) continue;
                fragmented_ = false;
                return event{event::kind::message, std::move(message_)};
            default: return error("a WebSocket frame of unknown opcode " + std::to_string(static_cast<int>(op)));
        }
    }
    return std::nullopt;
}

}  // namespace quon::routers::nmos
