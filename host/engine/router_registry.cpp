#include "quon/engine/router_backend.h"

namespace quon {

std::unique_ptr<router_backend> router_registry::create(const router_description& description, router_events& events,
                                                        std::string& error) const {
    const auto factory = factories_.find(description.protocol);
    if (factory == factories_.end()) {
        error = "Protocol=" + description.protocol + " is not one this host speaks (" + protocols() + ")";
        return nullptr;
    }
    return factory->second(description, events, error);
}

std::string router_registry::protocols() const {
    std::string names;
    for (const auto& f : factories_) names += (names.empty() ? "" : ", ") + f.first;
    return names;
}

}  // namespace quon
