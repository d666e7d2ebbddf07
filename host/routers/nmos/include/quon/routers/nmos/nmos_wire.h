// nmos_wire: the bytes of a Query API conversation, without I/O: the HTTP
// requests a client writes, the Link header that leads to a next page, and
// WebSocket frames (RFC 6455) in both directions: frames written by a
// client are masked, frames read from a server are not (a masked one is
// unmasked and read all the same).
//
// Pure functions and one reader; the reader is a value owned by its user.
#ifndef QUON_ROUTERS_NMOS_NMOS_WIRE_H
#define QUON_ROUTERS_NMOS_NMOS_WIRE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quon::routers::nmos {

// "GET path HTTP/1.1" with Host and Accept; a POST carries `body` as JSON.
std::string httpGet(const std::string& authority, const std::string& path);
std::string httpPost(const std::string& authority, const std::string& path, const std::string& json);
// The opening handshake of a WebSocket at `path`; `key` is the
// Sec-WebSocket-Key (base64 of 16 bytes).
std::string webSocketOpen(const std::string& authority, const std::string& path, const std::string& key);
// The key's base64 text from 16 bytes, and the Sec-WebSocket-Accept a
// server must answer to it.
std::string webSocketKey(const std::array<std::uint8_t, 16>& bytes);
std::string webSocketAccept(const std::string& key);

// The target of the rel="next" link of a Link header, as a path with its
// query ("/x-nmos/query/v1.3/senders/?paging.since=..."): an absolute URL
// loses its scheme and authority. None when there is no next link.
std::optional<std::string> nextLink(std::string_view header);
// "ws://host:port/path?q" -> "/path?q"; a bare path stays as it is.
std::string pathOf(std::string_view url);

// Where a subscription's ws_href says its WebSocket is: a ws:// or wss://
// URL (port 80 or 443 when it gives none), or a bare path from the root,
// on the registry's own connection.
struct web_socket_url {
    std::string host;  // empty for a bare path; an IPv6 address without brackets
    std::uint16_t port = 0;
    bool tls = false;        // wss://
    std::string authority;   // as written, for Host:
    std::string path;        // with its query
};
// Nothing, with `why` saying what is wrong, for anything else, or a path
// that is not printable ASCII without blanks (what a request line holds).
std::optional<web_socket_url> readWebSocketUrl(std::string_view url, std::string& why);

enum class opcode : std::uint8_t { continuation = 0, text = 1, binary = 2, close = 8, ping = 9, pong = 10 };

// A frame a client sends: FIN set, masked with `mask`.
std::string clientFrame(opcode op, std::string_view payload, const std::array<std::uint8_t, 4>& mask);

// Reads a server's frames from bytes in pieces of any size, joining
// fragmented messages. Each event is one of: a whole message (text or
// binary), a ping's payload, a close, or an error (the stream cannot be
// read further).
class frame_reader {
public:
    // A message, or a control frame's payload, longer than this is an
    // error: what a registry can make the host hold.
    explicit frame_reader(std::size_t maxMessage) : maxMessage_(maxMessage) {}

    struct event {
        enum class kind { message, ping, pong, close, error } what;
        std::string payload;  // the message, the ping's or pong's payload, or the error's text
    };
    // Takes `bytes`; then next() gives the events they complete, in order.
    void feed(std::string_view bytes) { buffer_.append(bytes.data(), bytes.size()); }
    std::optional<event> next();
    void reset();

private:
    std::size_t maxMessage_;
    std::string buffer_;   // bytes not yet read as frames
    std::string message_;  // a fragmented message so far
    bool fragmented_ = false;
    bool failed_ = false;
};

}  // namespace quon::routers::nmos

#endif
