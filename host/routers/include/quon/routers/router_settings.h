// router_settings: what every router connection reads, whatever its
// protocol: where the router is, the sizes the system knows, and the
// timings of the connection. A protocol's own keys (an SW-P-08 level, an
// Ember+ matrix path) are its options, read by its descriptor
// (protocol_descriptor.h), never fields here.
//
// A plain value; copied into each connection and client that reads it.
#ifndef QUON_ROUTERS_ROUTER_SETTINGS_H
#define QUON_ROUTERS_ROUTER_SETTINGS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace quon::routers {

struct router_settings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // the device file's reader sets the protocol's default port when Address= has none
    // The path of an Address= URL ("http://host:port/path"), for a protocol
    // whose descriptor takes one (protocol_descriptor::urlScheme); empty
    // otherwise.
    std::string path;
    // Over TLS (an https:// Address=): the router's certificate verified
    // against caFile's certificates (PEM), or the system's store when empty.
    bool tls = false;
    std::string caFile;
    std::chrono::milliseconds connectTimeout{5000};     // to connect, and then to read the initial state
    std::chrono::milliseconds keepAliveInterval{1000};  // a request that needs an answer is sent this often
    // A keep-alive sent and nothing at all received on its connection for
    // this long: lost. A router that hangs is seen within KeepAlive plus
    // this (3 s by default); Silence still bounds a protocol that cannot ask.
    std::chrono::milliseconds keepAliveWait{2000};
    std::chrono::milliseconds silenceLimit{15000};      // nothing received for this long: lost
    // While up, the router's whole state is read again this often; only what
    // differs is reported. A router can lose changes it should have pushed
    // (it hung for less than the silence limit, or while this host was too
    // busy to notice): this bounds how long a display can stay wrong.
    std::chrono::milliseconds resyncInterval{60000};
    // The sizes the system knows (the device file's DatabaseSize_0 and
    // DatabaseSize_1); 0 when it gives none. Each protocol says how they
    // weigh against what the router shows (docs/routers.md).
    int sources = 0;
    int destinations = 0;
    // Where the client's act::remember is kept (beside the device file),
    // and what was kept there when the device file was read; empty when
    // there is none.
    std::string stateFile;
    std::string remembered;
    std::chrono::milliseconds backOffFirst{1000};  // the first retry comes within this
    std::chrono::milliseconds backOffCap{30000};   // no retry waits longer than this
    std::uint32_t jitterSeed = 0;                  // 0: seeded from the clock
};

}  // namespace quon::routers

#endif
