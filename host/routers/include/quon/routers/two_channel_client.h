// two_channel_client: a router_client that must hold two connections to
// its router at once (NMOS: the senders' WebSocket beside the receivers').
// It opens channel 1 with act::reopen{1} and names each act::send's
// channel; channel 1's events come here. Channel 1 lives inside channel
// 0's connection: closed() is told once for both. connectOverTcp()
// carries such a client on two channels, every other on one.
//
// Lives on the thread that feeds it, as every router_client.
#ifndef QUON_ROUTERS_TWO_CHANNEL_CLIENT_H
#define QUON_ROUTERS_TWO_CHANNEL_CLIENT_H

#include <cstddef>
#include <cstdint>

#include "quon/routers/router_client.h"

namespace quon::routers {

class two_channel_client : public router_client {
public:
    // Channel 1's connection is made.
    virtual void secondConnected(router_clock::time_point now, router_actions& out) = 0;
    // Bytes came off channel 1's connection, in a piece of any size.
    virtual void secondBytes(const std::uint8_t* data, std::size_t size, router_clock::time_point now,
                             router_actions& out) = 0;
};

}  // namespace quon::routers

#endif
