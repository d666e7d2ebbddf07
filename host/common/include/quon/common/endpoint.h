// The host's one reader of "host:port": "192.0.2.10:9990", "[2001:db8::1]:9990",
// "router-a.studio:9990", and where its user allows, a bare host (the
// protocol's port) or ":8080" (the default address). Whether a name is
// allowed, and which ports, is the caller's rule: a router link and a TSL
// receiver resolve names; the web page binds a numeric address.
#ifndef QUON_COMMON_ENDPOINT_H
#define QUON_COMMON_ENDPOINT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quon {

struct endpoint_text {
    std::string host;                 // without brackets; empty for ":port"
    std::optional<std::uint16_t> port;  // none for a bare host
};

// False, with `error` saying what is wrong, unless `text` is one of the
// forms above with a port from 0 to 65535 (callers refuse 0 where it means
// nothing) and a host of letters, digits, '-', '.', '_' (or an address in
// brackets).
bool parseEndpoint(std::string_view text, endpoint_text& out, std::string& error);

// "host:port", an IPv6 address in brackets: what parseEndpoint reads back.
std::string endpointText(const std::string& host, std::uint16_t port);

}  // namespace quon

#endif
