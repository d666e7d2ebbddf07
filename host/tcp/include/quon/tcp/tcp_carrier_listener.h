// tcp_carrier_listener: what a tcp_carrier tells its user. Why a
// connection ended comes as a tcp_failure (tcp_failure.h).
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

#include "quon/tcp/tcp_failure.h"

namespace quon::tcp {

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
