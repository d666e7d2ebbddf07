// network_router: the router_backend of a router on the network, whatever
// its protocol: it reads the device file's keys through the protocol's
// descriptor, carries the client on a TCP connection, and turns what the
// connection reports into the engine's events (routes to the components
// that asked, names that changed, the router's state, warnings).
#ifndef QUON_ROUTERS_NETWORK_ROUTER_H
#define QUON_ROUTERS_NETWORK_ROUTER_H

#include <boost/asio/io_context.hpp>

#include "quon/engine/router_backend.h"
#include "quon/routers/protocol_descriptor.h"

namespace quon::routers {

// Makes the backends of `protocol`'s routers; their connections run on
// `loop`, which outlives every backend made.
router_factory networkRouter(boost::asio::io_context& loop, protocol_descriptor protocol);

}  // namespace quon::routers

#endif
