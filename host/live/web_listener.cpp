#include "quon/live/web_listener.h"

#include <unordered_map>

#include "quon/output/display_lines.h"

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

web_listener::web_listener(const host_engine& engine, web::web_view& view, const umd_config& tallies)
    : engine_(engine),
      view_(view),
      tallies_(tallies),
      feed_(engine, &tallies, [this](const display_change& display) { show(display); }) {}

void web_listener::componentCreated(const std::string& name) {
    web::display_state& entry = displays_[name];
    entry.name = name;
    entry.tslIndex = tslIndex(tallies_, name);
    update(name);
    view_.event(name + " created");
}

void web_listener::componentDestroyed(const std::string& name) {
    displays_.erase(name);
    view_.removeDisplay(name);
    view_.event(name + " destroyed");
}

void web_listener::watched(const std::string& component, int device, int first, int, bool added) {
    // The router and destination this display watches. A range added to a
    // display that already shows a router leaves it as it is: the display
    // still watches what it did.
    auto entry = displays_.find(component);
    if (entry == displays_.end()) return;
    web::display_state& state = entry->second;
    if (added && state.router != 0) return;
    if (state.router == device && state.destination == first) return;
    state.router = device;
    state.destination = first;
    // A router this system does not have is no silent one: the display's
    // problem says what it is.
    const std::optional<router_status> status = engine_.routerStatus(device);
    state.routerSilent = status && !routerUp(status->state);
    view_.setDisplay(state);
}

void web_listener::propertyChanged(const property_change& change) { feed_.propertyChanged(change); }

void web_listener::tallyChanged(const std::string& component, tally::state now) {
    feed_.tallyChanged(component, now);
}

void web_listener::parentNotified(const std::string& component, const std::string& text) {
    auto entry = displays_.find(component);
    if (entry == displays_.end()) return;
    entry->second.notified = text;
    view_.setDisplay(entry->second);
}

void web_listener::routerRemoved(int device) {
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
    view_.link(link);
    view_.event("router " + std::to_string(change.device) + ": " + link.state +
                (link.detail.empty() ? "" : " (" + link.detail + ")"));
    const bool answers = routerAnswers(change.device);
    for (auto& [name, entry] : displays_)
        if (entry.router == change.device && entry.routerSilent == answers) {
            entry.routerSilent = !answers;
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
    for (int device : engine_.devices()) {
        const std::optional<router_status> status = engine_.routerStatus(device);
        if (!status) continue;
        web::link_state link;
        link.device = device;
        if (const router_description* d = engine_.routerDescription(device)) {
            link.name = d->name;
            link.protocol = d->protocol;
        }
        link.state = routerStateName(status->state);
        link.up = routerUp(status->state);
        link.size = status->size;
        link.detail = status->detail;
        link.missing = status->missing;
        view_.link(link);
    }
}

void web_listener::refresh() {
    std::unordered_map<std::string, int> indices;
    for (const umd_display& display : tallies_.displays) indices.emplace(display.name, display.index);
    for (auto& [name, entry] : displays_) {
        const auto found = indices.find(name);
        entry.tslIndex = found == indices.end() ? -1 : found->second;
        update(name);
    }
}

int web_listener::tslIndex(const umd_config& config, const std::string& component) {
    for (const umd_display& display : config.displays)
        if (display.name == component) return display.index;
    return -1;
}

void web_listener::update(const std::string& component) {
    const auto found = displays_.find(component);
    if (found == displays_.end()) return;
    if (const std::optional<display_change> display = feed_.read(component)) {
        show(*display);
    } else {
        view_.setDisplay(found->second);
    }
}

void web_listener::show(const display_change& display) {
    const auto found = displays_.find(display.name);
    if (found == displays_.end()) return;
    web::display_state& entry = found->second;
    entry.text = display.text;
    entry.statesheet = display.statesheet;
    entry.left = colourName(display.lamps.left);
    entry.centre = colourName(display.lamps.text);
    entry.right = colourName(display.lamps.right);
    entry.brightness = display.lamps.brightness * 100 / 3;
    entry.tally = display.tally == tally::state::program   ? "program"
                  : display.tally == tally::state::preview ? "preview"
                                                           : "";
    entry.tallyInput.clear();
    entry.tallyIndex = 0;
    entry.tallyWhy.clear();
    if (display.tally != tally::state::off)
        if (const std::optional<tally_graph::reason> why = engine_.tallyWhy(display.name)) {
            entry.tallyInput = why->input;
            entry.tallyIndex = why->index;
            entry.tallyWhy = reasonText(*why);
        }
    view_.setDisplay(entry);
}

bool web_listener::routerAnswers(int device) const {
    const std::optional<router_status> status = engine_.routerStatus(device);
    return status && routerUp(status->state);
}

}  // namespace quon
