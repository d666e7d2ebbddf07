#include "quon/engine/router_backend.h"

#include <algorithm>
#include <string>
#include <vector>

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

namespace {

// Letters inserted, removed or replaced to make one word the other.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

constexpr size_t max_typo = 2;

}  // namespace

std::string router_registry::nearestKey(const std::string& key, const std::string& protocol) const {
    std::vector<std::string> known = {"Name", "Protocol"};
    // The file's own protocol's keys first: of two as near, its own is meant.
    const auto own = factories_.find(protocol);
    if (own != factories_.end()) known.insert(known.end(), own->second.keys.begin(), own->second.keys.end());
    for (const auto& [name, p] : factories_) known.insert(known.end(), p.keys.begin(), p.keys.end());
    if (std::any_of(known.begin(), known.end(), [&key](const std::string& k) { return lowerCase(k) == key; }))
        return "";
    std::string nearest;
    size_t best = max_typo + 1;
    for (const std::string& k : known) {
        const size_t distance = editDistance(key, lowerCase(k));
        if (distance < best) {
            best = distance;
            nearest = k;
        }
    }
    return nearest;
}

std::vector<std::string> router_registry::keyErrors(const router_description& d) const {
    std::vector<std::string> errors;
    const auto spelt = [&d](const std::string& key) {
        const auto found = d.settingSpelling.find(key);
        return found == d.settingSpelling.end() ? key : found->second;
    };
    bool protocolMisspelt = false;
    for (const auto& [key, line] : d.settingLines) {
        const std::string meant = nearestKey(key, d.protocol);
        if (meant.empty()) continue;
        errors.push_back(d.path + ":" + std::to_string(line) + ": [Router] unknown key " + spelt(key) +
                         "; did you mean " + meant + "?");
        protocolMisspelt = protocolMisspelt || meant == "Protocol";
    }
    // A misspelt Protocol is the one mistake, said above.
    const auto address = d.settingLines.find("address");
    if (address != d.settingLines.end() && !d.settingLines.count("protocol") && !protocolMisspelt) {
        std::string network;
        for (const auto& [name, p] : factories_)
            if (std::find(p.keys.begin(), p.keys.end(), "Address") != p.keys.end())
                network += (network.empty() ? "" : ", ") + name;
        errors.push_back(d.path + ":" + std::to_string(address->second) + ": [Router] " + spelt("address") +
                         "= without Protocol=: a router on the network needs its protocol (" + network +
                         "); a simulated router has no address");
    }
    return errors;
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
        if (!nearestKey(key, d.protocol).empty()) continue;  // keyErrors() says it
        if (key == "address" && !d.settingLines.count("protocol")) continue;
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
