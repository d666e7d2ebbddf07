// tcp_carrier_listener: what a tcp_carrier tells its user, and why a
// connection ended. Each user words the failure for its own readers (a
// router's link, a TSL screen's receiver), so the carrier hands over the
// cause and the system's message, not a sentence.
//
// Every call runs on the io_context's thread, from the carrier's handlers.
// The user may call the carrier (send, open, close) from within any of them.
#ifndef QUON_TCP_TCP_CARRIER_LISTENER_H
#define QUON_TCP_TCP_CARRIER_LISTENER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

namespace quon::tcp {

struct tcp_failure {
    enum class cause {
        unresolved,      // the name gave no address
        refused,         // the peer refused the connection
        timed_out,       // no connection within the time limit
        connect_failed,  // any other reason a connect failed
        peer_closed,     // the peer closed the connection
        read_failed,
        write_failed,
        backlog,  // more waited to be written than the limit allows
    };
    cause what = cause::connect_failed;
    // The system's message, where the cause has one ("no address" when a
    // name resolved to nothing).
    std::string message;
    // The addresses of this attempt, in order, and the name they came from:
    // "host (a:p, [b]:p)", or "a:p" alone for a numeric address. Empty
    // before the name resolved.
    std::string tried;
};

class tcp_carrier_listener {
public:
    virtual ~tcp_carrier_listener() = default;
    // A host name is being resolved (not called for a numeric address).
    virtual void resolving() {}
    // An attempt begins, to these addresses in order.
    virtual void connecting(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints) { (void)endpoints; }
    // Connected to `peer`; send() now writes.
    virtual void connected(const boost::asio::ip::tcp::endpoint& peer) = 0;
    // Bytes came, in a piece of any size; a user with nothing to read
    // ignores them (the carrier still reads, to notice the close).
    virtual void received(const std::uint8_t* data, std::size_t size) {
        (void)data;
        (void)size;
    }
    // Every byte sent so far has been handed to the kernel.
    virtual void drained() {}
    // The connection, or the attempt at one, failed; the socket is closed
    // and the next attempt is due in `retryIn` unless the user closes the
    // carrier.
    virtual void failed(const tcp_failure& failure, std::chrono::milliseconds retryIn) = 0;
};

}  // namespace quon::tcp

#endif
