#include "quon/displays/display_model.h"

#include <algorithm>

namespace quon {

void display_model::showFrom(const std::string& component, display_control control) {
    const display_control* shared = &default_;
    if (control != default_) {
        const auto same = std::find_if(controls_.begin(), controls_.end(),
                                       [&](const std::unique_ptr<display_control>& c) { return *c == control; });
        shared = same != controls_.end() ? same->get()
                                         : controls_.emplace_back(std::make_unique<display_control>(control)).get();
    }
    if (shared == &default_)
        named_.erase(component);
    else
        named_[component] = shared;
    if (const auto found = displays_.find(component); found != displays_.end()) found->second.shows = shared;
}

void display_model::subscribe(display_observer* observer) { observers_.push_back(observer); }

void display_model::unsubscribe(display_observer* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

const display_record* display_model::find(const std::string& name) const {
    const auto found = displays_.find(name);
    return found == displays_.end() ? nullptr : &found->second;
}

// A component is met at its first event, which may come while it is being
// created (its constructor shows its panel).
display_record& display_model::entry(const std::string& name) {
    const auto [at, fresh] = displays_.try_emplace(name);
    if (fresh) {
        at->second.name = name;
        const auto named = named_.find(name);
        at->second.shows = named == named_.end() ? &default_ : named->second;
    }
    return at->second;
}

void display_model::tell(const display_record& display, display_aspect what) {
    // An observer may unsubscribe another while told: walk a copy.
    const std::vector<display_observer*> observers = observers_;
    for (display_observer* observer : observers) observer->displayChanged(display, what);
}

void display_model::componentDestroyed(const std::string& name) {
    if (displays_.erase(name) == 0) return;
    const std::vector<display_observer*> observers = observers_;
    for (display_observer* observer : observers) observer->displayGone(name);
}

// The layout's text and state sheet stand until the component sets its
// own: observers hear of them with the next change, as they always have.
void display_model::panelShown(const std::string& component, const panel_state& panel) {
    display_record& display = entry(component);
    if (panel.id() != display.shows->panel) return;
    const int control = panel.layout().find(display.shows->control);
    const std::string* text = control < 0 ? nullptr : panel.property(control, "text");
    const std::string* statesheet = control < 0 ? nullptr : panel.property(control, "statesheet");
    display.text = text ? std::optional<std::string>(*text) : std::nullopt;
    display.statesheet = statesheet ? *statesheet : std::string();
}

void display_model::propertyChanged(const property_change& change) {
    if (change.property != "text" && change.property != "statesheet") return;
    display_record& display = entry(change.component);
    if (change.panel != display.shows->panel || change.control != display.shows->control) return;
    if (change.property == "text")
        display.text = change.value;
    else
        display.statesheet = change.value;
    tell(display, display_aspect::shown);
}

void display_model::answered(const std::string& component) {
    display_record& display = entry(component);
    display.answered = true;
    tell(display, display_aspect::answered);
}

void display_model::tallyChanged(const std::string& component, tally::state now, const tally_graph::reason* why) {
    display_record& display = entry(component);
    display.tally = now;
    display.why.reset();
    if (why) display.why = *why;
    tell(display, display_aspect::tally);
}

void display_model::watched(const std::string& component, int device, int first, int, bool added) {
    // A range added to a display that already watches one leaves it as it
    // is: the display still shows what it did.
    display_record& display = entry(component);
    if (added && display.router != 0) return;
    if (display.router == device && display.destination == first) return;
    display.router = device;
    display.destination = first;
    tell(display, display_aspect::watched);
}

void display_model::parentNotified(const std::string& component, const std::string& text) {
    display_record& display = entry(component);
    display.notified = text;
    tell(display, display_aspect::notified);
}

}  // namespace quon
