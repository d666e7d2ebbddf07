// router_client: one router protocol as a machine without I/O. It is told
// that a connection opened or closed, which bytes came and when time passed,
// and appends to `out` what must follow (router_actions.h). The same events
// in the same order give the same actions, which is how its tests run.
//
// A client lives on one thread, the one that feeds it (the io_context's, in
// tcp_connection). After it appends act::fail, or after closed(), it does
// nothing until the next connected().
#ifndef QUON_ROUTERS_ROUTER_CLIENT_H
#define QUON_ROUTERS_ROUTER_CLIENT_H

#include <cstddef>
#include <cstdint>

#include "quon/routers/router_actions.h"

namespace quon::routers {

class router_client {
public:
    router_client() = default;
    router_client(const router_client&) = delete;
    router_client& operator=(const router_client&) = delete;
    virtual ~router_client() = default;

    // A connection is made: forget the last one's state and open this one.
    virtual void connected(router_clock::time_point now, router_actions& out) = 0;
    // Bytes came off the connection, in a piece of any size.
    virtual void bytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now, router_actions& out) = 0;
    // The time last asked for by act::arm_timer may have come.
    virtual void timer(router_clock::time_point now, router_actions& out) = 0;
    // While up: time to send a request the router must answer.
    virtual void keepAlive(router_clock::time_point now, router_actions& out) = 0;
    // While up: time to read the router's whole state again.
    virtual void resync(router_clock::time_point now, router_actions& out) = 0;
    // Whether resync() reads on this connection (what the router pushes
    // meanwhile waits in the read), rather than on a new one.
    virtual bool resyncsInPlace() const { return true; }
    // The connection is gone, for whatever reason.
    virtual void closed() = 0;
    // As router_connection's: false, appending nothing, when the request cannot be
    // sent (down, or a number outside the router).
    virtual bool requestRoute(int destination, int source, router_actions& out) = 0;
    virtual void poll(int firstDestination, int lastDestination, router_actions& out) = 0;
};

}  // namespace quon::routers

#endif
