#include "quon/engine/router_backend.h"

#include <algorithm>

#include "quon/common/text.h"

namespace quon {

std::unique_ptr<router_backend> router_registry::create(const router_description& description, router_events& events,
                                                        std::string& error) const {
    const auto factory = factories_.find(description.protocol);
    if (factory == factories_.end()) {
        error = description.place("protocol") + "Protocol=" + description.protocol +
                " is not one this host speaks (" + protocols() + ")";
        return nullptr;
    }
    return factory->second.factory(description, events, error);
}

void router_registry::checkKeys(const router_description& d, std::vector<std::string>& warnings) const {
    const auto known = factories_.find(d.protocol);
    if (known == factories_.end()) return;  // create() says so
    std::vector<std::string> keys = {"Name", "Protocol"};
    keys.insert(keys.end(), known->second.keys.begin(), known->second.keys.end());
    for (const auto& [setting, line] : d.settingLines) {
        const std::string& key = setting;  // a lambda may not capture a structured binding
        if (std::any_of(keys.begin(), keys.end(), [&key](const std::string& k) { return lowerCase(k) == key; }))
            continue;
        std::string list;
        for (const std::string& k : keys) list += (list.empty() ? "" : ", ") + k;
        const auto spelt = d.settingSpelling.find(key);
        warnings.push_back(d.path + ":" + std::to_string(line) + ": [Router] " +
                           (spelt == d.settingSpelling.end() ? key : spelt->second) + ": not a key of Protocol=" +
                           d.protocol + " (" + list + "); ignored");
    }
}

std::string router_registry::protocols() const {
    std::string names;
    for (const auto& f : factories_) names += (names.empty() ? "" : ", ") + f.first;
    return names;
}

}  // namespace quon
