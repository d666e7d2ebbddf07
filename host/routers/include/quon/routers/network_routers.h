// Routers on the network as router backends: a device file whose Protocol=
// names one of network_routers.cpp's descriptors gets a connection to a
// real router (Videohub, SW-P-08, Ember+). docs/serve.md gives each
// protocol's keys, docs/routers.md what each asks and tolerates.
#ifndef QUON_ROUTERS_NETWORK_ROUTERS_H
#define QUON_ROUTERS_NETWORK_ROUTERS_H

#include <vector>

#include <boost/asio/io_context.hpp>

#include "quon/engine/router_backend.h"
#include "quon/routers/protocol_descriptor.h"

namespace quon {

// Every protocol of a router on the network.
const std::vector<routers::protocol_descriptor>& networkProtocols();

// Adds every network protocol to `registry`, with the keys it reads; their
// connections run on `loop`, which outlives every backend made.
void addNetworkRouters(router_registry& registry, boost::asio::io_context& loop);

}  // namespace quon

#endif
