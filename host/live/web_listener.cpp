#include "quon/live/web_listener.h"

#include <unordered_map>

#include "quon/live/display_lamps.h"

namespace quon {

namespace {

const char* colourName(lamp_colour colour) {
    switch (colour) {
        case lamp_colour::red: return "red";
        case lamp_colour::green: return "green";
        case lamp_colour::amber: return "amber";
        default: return "off";
    }
}

}  // namespace

web_listener::web_listener(const engine_routers& routers, display_model& displays, web::web_view& view,
                           const umd_config& screens)
    : routers_(routers), model_(displays), view_(view), screens_(screens) {
    model_.subscribe(this);
}

web_listener::~web_listener() { model_.unsubscribe(this); }

void web_listener::componentCreated(const std::string& name) {
    web::display_state& entry = displays_[name];
    entry.name = name;
    entry.tslIndex = tslIndex(screens_, name);
    // What it set while it was being made.
    if (const display_record* display = model_.find(name)) show(entry, *display);
    view_.setDisplay(entry);
    view_.event(name + " created");
}

void web_listener::componentDestroyed(const std::string& name) {
    displays_.erase(name);
    view_.removeDisplay(name);
    view_.event(name + " destroyed");
}

void web_listener::displayChanged(const display_record& display, display_aspect what) {
    auto found = displays_.find(display.name);
    if (found == displays_.end() || what == display_aspect::answered || what == display_aspect::reshown) return;
    show(found->second, display);
    view_.setDisplay(found->second);
}

void web_listener::routerRemoved(int device) {
    routerUp_.erase(device);
    view_.removeLink(device);
    view_.event("router " + std::to_string(device) + ": removed");
}

void web_listener::routerChanged(const router_change& change) {
    web::link_state link;
    link.device = change.device;
    link.name = change.name;
    link.protocol = change.protocol;
    link.state = routerStateName(change.status.state);
    link.up = routerUp(change.status.state);
    link.size = change.status.size;
    link.detail = change.status.detail;
    link.missing = change.status.missing;
    routerUp_[change.device] = link.up;
    view_.link(link);
    view_.event("router " + std::to_string(change.device) + ": " + link.state +
                (link.detail.empty() ? "" : " (" + link.detail + ")"));
    for (auto& [name, entry] : displays_)
        if (entry.router == change.device && entry.routerSilent == link.up) {
            entry.routerSilent = !link.up;
            view_.setDisplay(entry);
        }
}

void web_listener::marked(const std::string& display, lost_treatment now) {
    auto entry = displays_.find(display);
    if (entry == displays_.end()) return;
    entry->second.marked = now == lost_treatment::keep ? "" : lostTreatmentName(now);
    view_.setDisplay(entry->second);
}

void web_listener::warning(const std::string& component, const std::string& text) {
    // A component's retry can say the same every few seconds for ever.
    view_.countedEvent("warning: " + (component.empty() ? text : component + ": " + text));
}

void web_listener::watchProblem(const std::string& display, const std::string& problem) {
    auto entry = displays_.find(display);
    if (entry == displays_.end()) return;
    entry->second.watchProblem = problem;
    view_.setDisplay(entry->second);
}

void web_listener::violation(const std::string& component, const contract_violation& v) {
    view_.event("violation: " + component + ": " + v.text);
}

void web_listener::showRouters() {
    for (int device : routers_.numbers()) {
        const std::optional<router_status> status = routers_.status(device);
        if (!status) continue;
        web::link_state link;
        link.device = device;
        if (const router_description* d = routers_.description(device)) {
            link.name = d->name;
            link.protocol = d->protocol;
        }
        link.state = routerStateName(status->state);
        link.up = routerUp(status->state);
        link.size = status->size;
        link.detail = status->detail;
        link.missing = status->missing;
        routerUp_[device] = link.up;
        view_.link(link);
    }
}

void web_listener::refresh() {
    std::unordered_map<std::string, int> indices;
    for (const umd_display& display : screens_.displays) indices.emplace(display.name, display.index);
    for (auto& [name, entry] : displays_) {
        const auto found = indices.find(name);
        entry.tslIndex = found == indices.end() ? -1 : found->second;
        if (const display_record* display = model_.find(name)) show(entry, *display);
        view_.setDisplay(entry);
    }
}

int web_listener::tslIndex(const umd_config& config, const std::string& component) {
    for (const umd_display& display : config.displays)
        if (display.name == component) return display.index;
    return -1;
}

void web_listener::show(web::display_state& entry, const display_record& display) {
    if (const std::string* text = displayText(display)) {
        entry.text = *text;
        entry.statesheet = display.statesheet;
    }
    const tally_lamps lamps = displayLamps(&screens_, display);
    entry.left = colourName(lamps.left);
    entry.centre = colourName(lamps.text);
    entry.right = colourName(lamps.right);
    entry.brightness = lamps.brightness * 100 / 3;
    entry.tally = display.tally.now == tally::state::off ? "" : tally::stateName(display.tally.now);
    entry.iso = display.tally.iso;
    entry.tallyInput = display.why ? display.why->input : std::string();
    entry.tallyIndex = display.why ? display.why->index : 0;
    entry.tallyWhy = display.why ? reasonText(*display.why) : std::string();
    entry.notified = display.notified;
    // A router this system does not have is no silent one: the display's
    // problem says what it is.
    if (entry.router != display.router || entry.destination != display.destination) {
        entry.router = display.router;
        entry.destination = display.destination;
        const auto up = routerUp_.find(display.router);
        entry.routerSilent = up != routerUp_.end() && !up->second;
    }
}

}  // namespace quon
