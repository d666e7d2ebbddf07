#include "quon/routers/simulated_router.h"

#include <algorithm>

namespace quon {

simulated_router::file_names::file_names(int size, const std::map<int, std::string>& names) : count_(names.size()) {
    // In place up to the last index named within the size, when at least
    // half of that range is named (a sparse file is hashed).
    const auto last = names.upper_bound(std::clamp(size, 0, max_router_size));
    const int span = last == names.begin() ? 0 : std::prev(last)->first;
    const size_t within = static_cast<size_t>(std::distance(names.lower_bound(1), last));
    if (span > 0 && within * 2 >= static_cast<size_t>(span)) {
        inPlace_.resize(static_cast<size_t>(span));
        named_.resize(static_cast<size_t>(span));
    }
    for (const auto& [index, name] : names) {
        if (index >= 1 && static_cast<size_t>(index) <= inPlace_.size()) {
            inPlace_[static_cast<size_t>(index - 1)] = name;
            named_[static_cast<size_t>(index - 1)] = true;
        } else {
            beyond_.emplace(index, name);
        }
    }
}

const std::string* simulated_router::file_names::find(int index) const {
    if (index >= 1 && static_cast<size_t>(index) <= inPlace_.size())
        return named_[static_cast<size_t>(index - 1)] ? &inPlace_[static_cast<size_t>(index - 1)] : nullptr;
    const auto entry = beyond_.find(index);
    return entry == beyond_.end() ? nullptr : &entry->second;
}

simulated_router::simulated_router(const router_description& description, router_events& events)
    : device_(description.device),
      answers_(description.answers),
      events_(events),
      destinations_(description.destinations()),
      sizes_(description.databaseSizes),
      routes_(static_cast<size_t>(destinations_)) {
    takeFileNames(description.entryNames);
    for (const auto& [destination, source] : description.crosspoints)
        if (destination >= 1 && destination <= destinations_)
            routes_[static_cast<size_t>(destination - 1)] = source;
        else
            routesBeyond_[destination] = source;
}

void simulated_router::takeFileNames(const std::map<int, std::map<int, std::string>>& names) {
    fileNames_.clear();
    for (const auto& [database, entries] : names) {
        const auto size = sizes_.find(database);
        fileNames_.emplace(database, file_names(size == sizes_.end() ? 0 : size->second, entries));
    }
}

const std::string* simulated_router::fileName(int database, int index) const {
    const auto names = fileNames_.find(database);
    return names == fileNames_.end() ? nullptr : names->second.find(index);
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
    if (!renamed_.empty()) {
        const auto entry = renamed_.find(key(database, index));
        if (entry != renamed_.end()) return &entry->second;
    }
    return fileName(database, index);
}

int simulated_router::crosspoint(int destination) const {
    if (destination >= 1 && destination <= destinations_) return routes_[static_cast<size_t>(destination - 1)];
    const auto x = routesBeyond_.find(destination);
    return x == routesBeyond_.end() ? 0 : x->second;
}

bool simulated_router::route(int destination, int source, std::string&) {
    if (destination >= 1 && destination <= destinations_)
        routes_[static_cast<size_t>(destination - 1)] = source;
    else
        routesBeyond_[destination] = source;
    if (answers_) events_.revertive(device_, destination, source, 0);
    return true;
}

bool simulated_router::rename(int database, int index, const std::string& text, std::string&) {
    renamed_[key(database, index)] = text;
    events_.nameChanged(device_, database, index);
    return true;
}

bool simulated_router::setAnswers(bool answers, std::string&) {
    answers_ = answers;
    events_.statusChanged(device_);
    return true;
}

bool simulated_router::reloadNames(const std::map<int, std::map<int, std::string>>& names) {
    size_t count = 0, files = 0;
    bool same = true;
    for (const auto& [database, entries] : names)
        for (const auto& [index, text] : entries) {
            ++count;
            const std::string* was = fileName(database, index);
            same = same && was && *was == text;
        }
    for (const auto& [database, held] : fileNames_) files += held.count();
    if (same && count == files) return false;
    // Only the entries the file changed: a name the operator gave since
    // stays where the file did not change.
    std::string error;
    for (const auto& [database, entries] : names)
        for (const auto& [index, text] : entries) {
            const std::string* was = fileName(database, index);
            if (!was || *was != text) rename(database, index, text, error);
        }
    // An entry the file no longer names keeps the name it has.
    for (const auto& entry : fileNames_) {
        // Not a structured binding: a lambda may not capture one in C++17.
        const int database = entry.first;
        const auto now = names.find(database);
        entry.second.forEach([&](int index, const std::string& name) {
            if (now == names.end() || !now->second.count(index)) renamed_.emplace(key(database, index), name);
        });
    }
    takeFileNames(names);
    for (auto r = renamed_.begin(); r != renamed_.end();) {
        const std::string* file = fileName(static_cast<int>(r->first >> 32), static_cast<int>(r->first & 0xFFFFFFFFu));
        r = file && *file == r->second ? renamed_.erase(r) : std::next(r);
    }
    return true;
}

}  // namespace quon
