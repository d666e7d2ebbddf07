// link_client: one router protocol as a machine without I/O. It is told
// that a connection opened or closed, which bytes came and when time passed,
// and appends to `out` what must follow (link_actions.h). The same events
// in the same order give the same actions, which is how its tests run.
//
// A client lives on one thread, the one that feeds it (the io_context's, in
// tcp_connection). After it appends act::fail, or after closed(), it does
// nothing until the next connected().
#ifndef QUON_LINKS_LINK_CLIENT_H
#define QUON_LINKS_LINK_CLIENT_H

#include <cstddef>
#include <cstdint>

#include "quon/links/link_actions.h"

namespace quon::links {

class link_client {
public:
    link_client() = default;
    link_client(const link_client&) = delete;
    link_client& operator=(const link_client&) = delete;
    virtual ~link_client() = default;

    // The port used when the settings give none.
    virtual std::uint16_t defaultPort() const = 0;
    // A connection is made: forget the last one's state and open this one.
    virtual void connected(link_clock::time_point now, link_actions& out) = 0;
    // Bytes came off the connection, in a piece of any size.
    virtual void bytes(const std::uint8_t* data, std::size_t size, link_clock::time_point now, link_actions& out) = 0;
    // The time last asked for by act::arm_timer may have come.
    virtual void timer(link_clock::time_point now, link_actions& out) = 0;
    // While up: time to send a request the router must answer.
    virtual void keepAlive(link_clock::time_point now, link_actions& out) = 0;
    // While up: time to read the router's whole state again.
    virtual void resync(link_clock::time_point now, link_actions& out) = 0;
    // The connection is gone, for whatever reason.
    virtual void closed() = 0;
    // As router_link's: false, appending nothing, when the request cannot be
    // sent (down, or a number outside the router).
    virtual bool requestRoute(int destination, int source, link_actions& out) = 0;
    virtual void poll(int firstDestination, int lastDestination, link_actions& out) = 0;
};

}  // namespace quon::links

#endif
