#include "quon/routers/network_routers.h"

#include "network_router.h"
#include "quon/routers/emberplus/emberplus_descriptor.h"
#include "quon/routers/nmos/nmos_descriptor.h"
#include "quon/routers/quartz/quartz_descriptor.h"
#include "quon/routers/router_keys.h"
#include "quon/routers/swp08/swp08_descriptor.h"
#include "quon/routers/videohub/videohub_descriptor.h"

namespace quon {

const std::vector<routers::protocol_descriptor>& networkProtocols() {
    static const std::vector<routers::protocol_descriptor> protocols = {
        routers::videohub::descriptor(),
        routers::swp08::descriptor(),
        routers::emberplus::descriptor(),
        routers::quartz::descriptor(),
        routers::nmos::descriptor(),
    };
    return protocols;
}

void addNetworkRouters(router_registry& registry, boost::asio::io_context& loop) {
    for (const routers::protocol_descriptor& protocol : networkProtocols())
        registry.add(protocol.name, routers::networkRouter(loop, protocol), routers::keysOf(protocol));
}

}  // namespace quon
