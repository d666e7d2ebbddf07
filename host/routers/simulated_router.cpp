#include "quon/routers/simulated_router.h"

#include <algorithm>

namespace quon {

simulated_router::simulated_router(const router_description& description, router_events& events)
    : device_(description.device),
      answers_(description.answers),
      events_(events),
      destinations_(description.destinations()),
      routes_(description.crosspoints.begin(), description.crosspoints.end()),
      fileNames_(description.entryNames) {
    for (const auto& [database, entries] : description.entryNames)
        for (const auto& [index, name] : entries) names_.emplace(key(database, index), name);
}

router_status simulated_router::status() const {
    router_status s;
    s.state = answers_ ? router_state::answering : router_state::not_answering;
    s.size = destinations_;
    return s;
}

void simulated_router::poll(int first, int last, uint64_t requester) {
    if (!answers_) return;
    for (int index = std::max(first, 1); index <= std::min(last, destinations_); ++index)
        events_.revertive(device_, index, crosspoint(index), requester);
}

const std::string* simulated_router::name(int database, int index) const {
    const auto entry = names_.find(key(database, index));
    return entry == names_.end() ? nullptr : &entry->second;
}

int simulated_router::crosspoint(int destination) const {
    const auto x = routes_.find(destination);
    return x == routes_.end() ? 0 : x->second;
}

bool simulated_router::route(int destination, int source, std::string&) {
    routes_[destination] = source;
    if (answers_) events_.revertive(device_, destination, source, 0);
    return true;
}

bool simulated_router::rename(int database, int index, const std::string& text, std::string&) {
    names_[key(database, index)] = text;
    events_.nameChanged(device_, database, index);
    return true;
}

bool simulated_router::setAnswers(bool answers, std::string&) {
    answers_ = answers;
    events_.statusChanged(device_);
    return true;
}

bool simulated_router::reloadNames(const std::map<int, std::map<int, std::string>>& names) {
    if (names == fileNames_) return false;
    // Only the entries the file changed: a name the operator gave since
    // stays where the file did not change.
    std::string error;
    for (const auto& [database, entries] : names)
        for (const auto& [index, text] : entries) {
            const auto was = fileNames_.find(database);
            const bool same = was != fileNames_.end() && was->second.count(index) && was->second.at(index) == text;
            if (!same) rename(database, index, text, error);
        }
    fileNames_ = names;
    return true;
}

}  // namespace quon
