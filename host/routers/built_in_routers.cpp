#include "quon/routers/built_in_routers.h"
#include "quon/routers/simulated_router.h"

namespace quon {

router_registry builtInRouters() {
    router_registry registry;
    registry.add("simulated", [](const router_description& d, router_events& events, std::string&) {
        return std::make_unique<simulated_router>(d, events);
    }, {"Answers"});
    return registry;
}

}  // namespace quon
