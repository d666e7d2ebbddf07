#include "quon/routers/simulated_router.h"

#include <algorithm>

namespace quon {

simulated_router::simulated_router(const router_description& description, router_events& events)
    : description_(description), events_(events), destinations_(description.destinations()) {}

router_status simulated_router::status() const {
    router_status s;
    s.state = description_.answers ? router_state::answering : router_state::not_answering;
    s.size = destinations_;
    return s;
}

void simulated_router::poll(int first, int last, uint64_t requester) {
    if (!description_.answers) return;
    for (int index = std::max(first, 1); index <= std::min(last, destinations_); ++index)
        events_.revertive(description_.device, index, crosspoint(index), requester);
}

const std::string* simulated_router::name(int database, int index) const {
    const auto names = description_.entryNames.find(database);
    if (names == description_.entryNames.end()) return nullptr;
    const auto entry = names->second.find(index);
    return entry == names->second.end() ? nullptr : &entry->second;
}

int simulated_router::crosspoint(int destination) const {
    const auto x = description_.crosspoints.find(destination);
    return x == description_.crosspoints.end() ? 0 : x->second;
}

bool simulated_router::route(int destination, int source, std::string&) {
    description_.crosspoints[destination] = source;
    if (description_.answers) events_.revertive(description_.device, destination, source, 0);
    return true;
}

bool simulated_router::rename(int database, int index, const std::string& text, std::string&) {
    description_.entryNames[database][index] = text;
    events_.nameChanged(description_.device, database, index);
    return true;
}

bool simulated_router::setAnswers(bool answers, std::string&) {
    description_.answers = answers;
    events_.statusChanged(description_.device);
    return true;
}

}  // namespace quon
