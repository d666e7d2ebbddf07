// router_connection: a connection to one real video router over an open
// control protocol (each in a folder of routers/), reporting the router's
// state to a listener.
//
// Numbers: every destination, source and label index here is 1-based, as
// the host counts (destination d is the router's output d-1 on the wire).
//
// Threading: everything runs on the thread that runs the io_context given to
// connectOverTcp(); call the connection only from there, and every listener call is
// made from there, from the io_context's handlers (never from within
// start()). Nothing blocks and no thread is started.
//
// Ownership: the caller owns the connection (unique_ptr). The io_context and
// the listener are borrowed and must outlive it. Destroying the connection
// stops it; after stop() or destruction the listener is never called again.
#ifndef QUON_ROUTERS_ROUTER_CONNECTION_H
#define QUON_ROUTERS_ROUTER_CONNECTION_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>

#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"

namespace quon::routers {

struct router_listener {
    virtual ~router_listener() = default;
    // Connected and the initial state read. The crosspoint() and label()
    // calls of that read come before this call. Sizes as the router reports
    // them; 0 when the router does not say.
    virtual void routerUp(int sources, int destinations) = 0;
    // The connection is lost, or an attempt to connect failed; the next
    // attempt starts in retryIn.
    virtual void routerDown(const std::string& why, std::chrono::milliseconds retryIn) = 0;
    // A routing item the router sent (pushed, or answering poll() or the
    // initial read), whether or not it `changed` the route the connection
    // holds (kept across connections: source()).
    virtual void crosspoint(int destination, int source, bool changed) = 0;
    // A label the router sent that differs from what the connection held.
    virtual void label(int database, int index, const std::string& text) = 0;
    // Something the router sent was wrong and was skipped or repaired; once
    // per cause and connection.
    virtual void problem(const std::string& text) = 0;
    // Part of the router's state did not come on this connection, even when
    // asked for again ("the sources' labels (path 0.1.1000.2) did not come;
    // showing numbers"): the router is up, or goes up, without it. Once per
    // text and connection; it holds until routerDown().
    virtual void missing(const std::string& text) = 0;
};

class router_connection {
public:
    router_connection() = default;
    router_connection(const router_connection&) = delete;
    router_connection& operator=(const router_connection&) = delete;
    virtual ~router_connection() = default;

    // Connects, and keeps reconnecting with exponential back-off and jitter
    // until stop(). Calling it while started does nothing.
    virtual void start() = 0;
    // Closes the connection and cancels every timer; no listener call after.
    virtual void stop() = 0;
    // Connected and the initial state read.
    virtual bool up() const = 0;
    // Asks the router to route `source` to `destination`. What the connection holds
    // changes only when the router reports the route. Returns false, sending
    // nothing, while down or when a number is outside what the router
    // reported (or outside what the protocol can carry). When the router
    // has long stopped taking what is sent (1 MiB waiting), the connection
    // is dropped and routerDown() is called before this returns.
    virtual bool requestRoute(int destination, int source) = 0;
    // Asks for the routes of the destinations first..last; the answers come
    // as crosspoint() calls. Nothing is sent while down. May call routerDown()
    // as requestRoute() does.
    virtual void poll(int firstDestination, int lastDestination) = 0;
    // The label the connection holds, or null; valid until the next call
    // into the connection or the next return to the io_context.
    virtual const std::string* label(int database, int index) const = 0;
    // The source the connection holds as routed to `destination`.
    virtual std::optional<int> source(int destination) const = 0;
    // Bytes the router sent wait in the socket, not read yet.
    virtual bool unread() const = 0;
};

// A connection over TCP that carries `client` (which it owns) to the router
// `settings` name. The connection's own timings are the settings'; the
// client's, its own.
std::unique_ptr<router_connection> connectOverTcp(boost::asio::io_context& io, const router_settings& settings,
                                                  router_listener& listener, std::unique_ptr<router_client> client);

}  // namespace quon::routers

#endif
