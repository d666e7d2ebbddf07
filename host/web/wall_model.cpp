#include "wall_model.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "quon/common/text.h"

namespace quon::web {

namespace {

using json = nlohmann::ordered_json;

// Texts come from components and router files and may hold any bytes; the
// page and the API get valid UTF-8 whatever they hold.
constexpr auto replace_invalid = json::error_handler_t::replace;

// How many bytes from `at` make one well-formed UTF-8 character (at least
// two: `at` is not ASCII); 0 when they do not.
std::size_t utf8Length(const unsigned char* at, const unsigned char* end) {
    const auto within = [&](std::size_t offset, unsigned char low, unsigned char high) {
        return at + offset < end && at[offset] >= low && at[offset] <= high;
    };
    const unsigned char lead = at[0];
    if (lead >= 0xc2 && lead <= 0xdf) return within(1, 0x80, 0xbf) ? 2 : 0;
    if (lead >= 0xe0 && lead <= 0xef) {
        const unsigned char low = lead == 0xe0 ? 0xa0 : 0x80;
        const unsigned char high = lead == 0xed ? 0x9f : 0xbf;
        return within(1, low, high) && within(2, 0x80, 0xbf) ? 3 : 0;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        const unsigned char low = lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xf4 ? 0x8f : 0xbf;
        return within(1, low, high) && within(2, 0x80, 0xbf) && within(3, 0x80, 0xbf) ? 4 : 0;
    }
    return 0;
}

void appendJsonString(std::string& out, const std::string& given) {
    // The host's text policy: a text that is not UTF-8 is Windows-1252.
    const std::string converted = isUtf8(given) ? std::string() : systemText(given);
    const std::string& text = converted.empty() ? given : converted;
    static constexpr char hex[] = "0123456789abcdef";
    const auto plain = [](unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; };
    out += '"';
    const auto* at = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = at + text.size();
    while (at < end) {
        const unsigned char c = *at;
        if (plain(c)) {
            const auto* const start = at;
            while (at < end && plain(*at)) ++at;
            out.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(at - start));
            continue;
        }
        if (c >= 0x80) {
            const std::size_t length = utf8Length(at, end);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++at;
            } else {
                out.append(reinterpret_cast<const char*>(at), length);
                at += length;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xf];
        }
        ++at;
    }
    out += '"';
}

json linkObject(const link_state& state) {
    return json{{"device", state.device}, {"name", state.name}, {"protocol", state.protocol},
                {"state", state.state},   {"size", state.size}, {"detail", state.detail},
                {"missing", state.missing}};
}

}  // namespace

wall_model::display_update wall_model::setDisplay(const display_state& state, std::uint64_t round) {
    if (!state.watchProblem.empty())
        watchProblems_[state.name] = state.watchProblem;
    else if (!watchProblems_.empty())
        watchProblems_.erase(state.name);
    auto found = displays_.find(state.name);
    if (found == displays_.end() || found->second.state.text != state.text) {
        if (found != displays_.end()) forget(found->second.state);
        showing_[state.text].insert(state.name);
    }
    if (found == displays_.end()) {
        displays_.emplace(state.name, display_entry{state, round});
        order_.push_back(state.name);
        return {true, true};
    }
    found->second.state = state;
    const bool first = found->second.round != round;
    found->second.round = round;
    return {false, first};
}

void wall_model::forget(const display_state& shown) {
    const auto texts = showing_.find(shown.text);
    if (texts == showing_.end()) return;
    texts->second.erase(shown.name);
    if (texts->second.empty()) showing_.erase(texts);
}

bool wall_model::removeDisplay(const std::string& name) {
    const auto found = displays_.find(name);
    if (found == displays_.end()) return false;
    forget(found->second.state);
    displays_.erase(found);
    watchProblems_.erase(name);
    order_.erase(std::find(order_.begin(), order_.end(), name));
    return true;
}

bool wall_model::setOrder(const std::vector<std::string>& names) {
    std::vector<std::string> ordered;
    ordered.reserve(order_.size());
    std::unordered_set<std::string> placed;
    for (const std::string& name : names)
        if (displays_.count(name) && placed.insert(name).second) ordered.push_back(name);
    for (const std::string& name : order_)
        if (!placed.count(name)) ordered.push_back(name);
    if (ordered == order_) return false;
    order_ = std::move(ordered);
    return true;
}

void wall_model::setLink(const link_state& state) {
    link_state& link = links_[state.device] = state;
    link.name = systemText(link.name);
    link.detail = systemText(link.detail);
    for (std::string& text : link.missing) text = systemText(text);
}

bool wall_model::removeLink(int device) { return links_.erase(device) > 0; }

void wall_model::addEvent(const std::string& line) {
    if (maxEvents_ == 0) return;
    events_.push_back({nextEventSequence_++, utcMillisText(std::chrono::system_clock::now()), systemText(line)});
    while (events_.size() > maxEvents_) events_.pop_front();
}

void wall_model::addCountedEvent(const std::string& line) {
    const std::string text = systemText(line);
    const auto said = std::find_if(events_.begin(), events_.end(), [&](const event_line& e) { return e.text == text; });
    if (said == events_.end()) {
        addEvent(line);
        return;
    }
    const std::uint64_t count = said->count + 1;
    events_.erase(said);
    events_.push_back({nextEventSequence_++, utcMillisText(std::chrono::system_clock::now()), text, count});
}

const display_state* wall_model::findDisplay(const std::string& name) const {
    auto found = displays_.find(name);
    return found == displays_.end() ? nullptr : &found->second.state;
}

void wall_model::appendDisplayJson(std::string& out, const display_state& state) {
    out += R"({"name":)";
    appendJsonString(out, state.name);
    out += R"(,"text":)";
    appendJsonString(out, state.text);
    out += R"(,"statesheet":)";
    appendJsonString(out, state.statesheet);
    out += R"(,"left":)";
    appendJsonString(out, state.left);
    out += R"(,"centre":)";
    appendJsonString(out, state.centre);
    out += R"(,"right":)";
    appendJsonString(out, state.right);
    out += R"(,"brightness":)";
    out += std::to_string(state.brightness);
    out += R"(,"notified":)";
    appendJsonString(out, state.notified);
    out += R"(,"router":)";
    out += std::to_string(state.router);
    out += R"(,"routerSilent":)";
    out += state.routerSilent ? "true" : "false";
    out += R"(,"destination":)";
    out += std::to_string(state.destination);
    out += R"(,"tslIndex":)";
    out += std::to_string(state.tslIndex);
    out += R"(,"marked":)";
    appendJsonString(out, state.marked);
    out += R"(,"watchProblem":)";
    appendJsonString(out, state.watchProblem);
    out += R"(,"tally":)";
    appendJsonString(out, state.tally);
    out += R"(,"iso":)";
    out += state.iso ? "true" : "false";
    out += R"(,"tallyInput":)";
    appendJsonString(out, state.tallyInput);
    out += R"(,"tallyIndex":)";
    out += std::to_string(state.tallyIndex);
    out += R"(,"tallyWhy":)";
    appendJsonString(out, state.tallyWhy);
    out += '}';
}

std::string wall_model::displaysJson() const {
    std::string displays = "[";
    displays.reserve(order_.size() * 200);
    for (const std::string& name : order_) {
        if (displays.size() > 1) displays += ',';
        appendDisplayJson(displays, displays_.at(name).state);
    }
    displays += ']';
    return displays;
}

std::string wall_model::routersJson() const {
    json routers = json::array();
    for (const auto& entry : links_) routers.push_back(linkObject(entry.second));
    return routers.dump(-1, ' ', false, replace_invalid);
}

std::string wall_model::receiversJson() const { return receiversJson(receivers_); }

std::string wall_model::receiversJson(const std::vector<receiver_state>& all) {
    json receivers = json::array();
    for (const receiver_state& r : all)
        receivers.push_back(json{{"to", r.to},
                                 {"state", r.state},
                                 {"detail", r.detail},
                                 {"lastSent", r.lastSent},
                                 {"packets", r.packets},
                                 {"errors", r.errors},
                                 {"down", r.down}});
    return receivers.dump(-1, ' ', false, replace_invalid);
}

std::string wall_model::tallyInputsJson() const {
    json inputs = json::array();
    for (const tally_input_state& t : tallyInputs_)
        inputs.push_back(json{{"name", t.name},
                              {"listen", t.listen},
                              {"up", t.up},
                              {"problem", t.problem},
                              {"lastPacket", t.lastPacket},
                              {"packets", t.packets},
                              {"unmapped", t.unmapped},
                              {"unreadable", t.unreadable},
                              {"changes", t.changes}});
    return inputs.dump(-1, ' ', false, replace_invalid);
}

std::optional<wall_model::tally_target> wall_model::findTallyTarget(const std::string& name, bool sourceOnly) const {
    if (!sourceOnly && displays_.count(name)) return tally_target{false, name};
    if (showing_.count(name)) return tally_target{true, name};
    return std::nullopt;
}

namespace {

// Where the displays showing one source disagree (two pictures of one
// name), the page shows the strongest; a word the page does not know yet
// still outranks off.
int tallyRank(const std::string& tally) {
    if (tally.empty()) return 0;
    if (tally == "program") return 4;
    if (tally == "hot") return 3;
    if (tally == "preview") return 2;
    return 1;
}

}  // namespace

std::string wall_model::tallyMessage(const tally_target& target) const {
    std::string out = R"({"type":"tally","kind":)";
    out += target.source ? R"("source")" : R"("display")";
    out += R"(,"name":)";
    appendJsonString(out, target.name);
    if (!target.source) {
        const display_state* display = findDisplay(target.name);
        out += R"(,"onWall":)";
        out += display ? "true" : "false";
        out += R"(,"tally":)";
        appendJsonString(out, display ? display->tally : std::string());
        out += R"(,"iso":)";
        out += display && display->iso ? "true" : "false";
        out += R"(,"text":)";
        appendJsonString(out, display ? display->text : std::string());
        out += R"(,"tallyWhy":)";
        appendJsonString(out, display ? display->tallyWhy : std::string());
        out += '}';
        return out;
    }
    const auto shown = showing_.find(target.name);
    const display_state* strongest = nullptr;
    std::size_t count = 0;
    bool iso = false;
    if (shown != showing_.end())
        for (const std::string& name : shown->second) {
            const display_state& display = displays_.at(name).state;
            ++count;
            iso = iso || display.iso;
            if (!strongest || tallyRank(display.tally) > tallyRank(strongest->tally)) strongest = &display;
        }
    out += R"(,"onWall":)";
    out += count > 0 ? "true" : "false";
    out += R"(,"displays":)";
    out += std::to_string(count);
    out += R"(,"tally":)";
    appendJsonString(out, strongest ? strongest->tally : std::string());
    out += R"(,"iso":)";
    out += iso ? "true" : "false";
    out += R"(,"text":)";
    appendJsonString(out, target.name);
    out += R"(,"tallyWhy":)";
    appendJsonString(out, strongest ? strongest->tallyWhy : std::string());
    out += '}';
    return out;
}

std::string wall_model::healthJson(std::size_t clients) const {
    json down = json::array();
    for (const auto& [device, link] : links_)
        if (!link.up)
            down.push_back("router " + std::to_string(device) + " " + link.state +
                           (link.detail.empty() ? "" : " (" + link.detail + ")"));
    // Up without part of its state: the displays show less than the router has.
    for (const auto& [device, link] : links_)
        for (const std::string& text : link.missing)
            down.push_back("router " + std::to_string(device) + " " + link.state + " (" + text + ")");
    // A display whose router cannot show it what it watches shows nothing of it.
    for (const auto& [name, problem] : watchProblems_) down.push_back(name + " " + problem);
    for (const receiver_state& r : receivers_)
        if (r.down) down.push_back("receiver " + r.to + " " + r.state + (r.detail.empty() ? "" : " (" + r.detail + ")"));
    for (const tally_input_state& t : tallyInputs_)
        if (!t.problem.empty())
            down.push_back("tally input " + t.name + " not listening (" + t.problem + ")");
        else if (!t.up)
            down.push_back("tally input " + t.name + " down (" + t.listen + ")");
    json health = {{"status", down.empty() ? "ok" : "degraded"},
                   {"role", role_},
                   {"down", down},
                   {"displays", order_.size()},
                   {"routers", links_.size()},
                   {"receivers", receivers_.size()},
                   {"tallyInputs", tallyInputs_.size()},
                   {"clients", clients}};
    // Said only while it is on: the screens show no router's state then.
    if (!lineup_.empty()) health["lineup"] = lineup_;
    return health.dump(-1, ' ', false, replace_invalid);
}

std::string wall_model::healthStatusJson() const {
    const json full = json::parse(healthJson(0));
    return json{{"status", full["status"]}, {"role", role_}}.dump(-1, ' ', false, replace_invalid);
}

std::string wall_model::roleJson() const { return json(role_).dump(-1, ' ', false, replace_invalid); }

std::string wall_model::orderJson() const { return json(order_).dump(-1, ' ', false, replace_invalid); }

std::string wall_model::eventsJson(std::uint64_t after) const {
    json lines = json::array();
    for (const event_line& line : events_)
        if (line.sequence > after)
            lines.push_back(
                json{{"sequence", line.sequence}, {"time", line.time}, {"text", line.text}, {"count", line.count}});
    return lines.dump(-1, ' ', false, replace_invalid);
}

std::string wall_model::fullMessage() const {
    return R"({"type":"full","displays":)" + displaysJson() + R"(,"routers":)" + routersJson() +
           R"(,"receivers":)" + receiversJson() + R"(,"tallyInputs":)" + tallyInputsJson() + R"(,"role":)" + roleJson() + R"(,"control":)" + (control_ ? "true" : "false") + R"(,"events":)" +
           eventsJson(0) + R"(,"maxEvents":)" + std::to_string(maxEvents_) + "}";
}

}  // namespace quon::web
