// The router backends every quon-host has: one line each in
// built_in_routers.cpp. Backends that need the network are added by the
// live host (see network_routers.h).
#ifndef QUON_ROUTERS_BUILT_IN_ROUTERS_H
#define QUON_ROUTERS_BUILT_IN_ROUTERS_H

#include "quon/engine/router_backend.h"

namespace quon {

router_registry builtInRouters();

}  // namespace quon

#endif
