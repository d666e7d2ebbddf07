#include "wall_model.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <unordered_set>

namespace quon::web {

namespace {

using json = nlohmann::ordered_json;

// Texts come from components and router files and may hold any bytes; the
// page and the API get valid UTF-8 whatever they hold.
constexpr auto kReplaceInvalid = json::error_handler_t::replace;

json tileObject(const tile_state& state) {
    return json{{"name", state.name},
                {"text", state.text},
                {"statesheet", state.statesheet},
                {"left", state.left},
                {"centre", state.centre},
                {"right", state.right},
                {"brightness", state.brightness},
                {"notified", state.notified},
                {"router", state.router},
                {"routerSilent", state.routerSilent}};
}

json linkObject(const link_state& state) {
    return json{{"device", state.device}, {"name", state.name}, {"protocol", state.protocol},
                {"state", state.state},   {"size", state.size}, {"detail", state.detail}};
}

}  // namespace

bool wall_model::setTile(const tile_state& state) {
    auto [place, added] = tiles_.insert_or_assign(state.name, state);
    (void)place;
    if (added) order_.push_back(state.name);
    return added;
}

bool wall_model::removeTile(const std::string& name) {
    if (tiles_.erase(name) == 0) return false;
    order_.erase(std::find(order_.begin(), order_.end(), name));
    return true;
}

bool wall_model::setOrder(const std::vector<std::string>& names) {
    std::vector<std::string> ordered;
    ordered.reserve(order_.size());
    std::unordered_set<std::string> placed;
    for (const std::string& name : names)
        if (tiles_.count(name) && placed.insert(name).second) ordered.push_back(name);
    for (const std::string& name : order_)
        if (!placed.count(name)) ordered.push_back(name);
    if (ordered == order_) return false;
    order_ = std::move(ordered);
    return true;
}

void wall_model::setLink(const link_state& state) { links_[state.device] = state; }

bool wall_model::removeLink(int device) { return links_.erase(device) > 0; }

void wall_model::addEvent(const std::string& line) {
    if (maxEvents_ == 0) return;
    events_.push_back({nextEventSequence_++, line});
    while (events_.size() > maxEvents_) events_.pop_front();
}

const tile_state* wall_model::findTile(const std::string& name) const {
    auto found = tiles_.find(name);
    return found == tiles_.end() ? nullptr : &found->second;
}

std::string wall_model::tileJson(const tile_state& state) {
    return tileObject(state).dump(-1, ' ', false, kReplaceInvalid);
}

std::string wall_model::displaysJson() const {
    json displays = json::array();
    for (const std::string& name : order_) displays.push_back(tileObject(tiles_.at(name)));
    return displays.dump(-1, ' ', false, kReplaceInvalid);
}

std::string wall_model::routersJson() const {
    json routers = json::array();
    for (const auto& entry : links_) routers.push_back(linkObject(entry.second));
    return routers.dump(-1, ' ', false, kReplaceInvalid);
}

std::string wall_model::orderJson() const { return json(order_).dump(-1, ' ', false, kReplaceInvalid); }

std::string wall_model::eventsJson(std::uint64_t after) const {
    json lines = json::array();
    for (const event_line& line : events_)
        if (line.sequence > after) lines.push_back(line.text);
    return lines.dump(-1, ' ', false, kReplaceInvalid);
}

std::string wall_model::fullMessage() const {
    return R"({"type":"full","displays":)" + displaysJson() + R"(,"routers":)" + routersJson() + R"(,"events":)" +
           eventsJson(0) + R"(,"maxEvents":)" + std::to_string(maxEvents_) + "}";
}

}  // namespace quon::web
