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
    if (telling_ > 0)
        std::replace(observers_.begin(), observers_.end(), observer, static_cast<display_observer*>(nullptr));
    else
        observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

// Without a copy of the list for each event: one taken out meanwhile is
// skipped, one added is told from the next event on.
template <class Call>
void display_model::tellEach(const Call& call) {
    ++telling_;
    const std::size_t count = observers_.size();
    for (std::size_t i = 0; i < count; ++i)
        if (display_observer* observer = observers_[i]) call(*observer);
    if (--telling_ == 0)
        observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end());
}

const display_record* display_model::find(const std::string& name) const {
    const auto found = displays_.find(name);
    return found == displays_.end() ? nullptr : &found->second;
}

// A component is met at its first event, which may come while it is being
// created (its constructor shows its panel).
display_record& display_model::entry(const std::string& name) {
    if (last_ && last_->name == name) return *last_;
    auto at = displays_.find(name);
    if (at == displays_.end()) {
        // Keyed at first by the caller's string, then, once the record
        // holds its own copy, by that.
        auto node = displays_.extract(displays_.try_emplace(name).first);
        display_record& display = node.mapped();
        display.name = name;
        const auto named = named_.find(name);
        display.shows = named == named_.end() ? &default_ : named->second;
        node.key() = display.name;
        at = displays_.insert(std::move(node)).position;
    }
    last_ = &at->second;
    return at->second;
}

void display_model::tell(const display_record& display, display_aspect what) {
    tellEach([&](display_observer& observer) { observer.displayChanged(display, what); });
}

void display_model::componentDestroyed(const std::string& name) {
    last_ = nullptr;
    if (displays_.erase(name) == 0) return;
    tellEach([&](display_observer& observer) { observer.displayGone(name); });
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
    const bool text = change.property == "text";
    const bool same = display.told && (text ? display.text == change.value : display.statesheet == change.value);
    display.told = true;
    if (text)
        display.text = change.value;
    else
        display.statesheet = change.value;
    tell(display, same ? display_aspect::reshown : display_aspect::shown);
}

void display_model::answered(const std::string& component) {
    display_record& display = entry(component);
    display.answered = true;
    tell(display, display_aspect::answered);
}

bool display_model::setLineup(const std::string& component, lineup_mode mode) {
    const auto found = displays_.find(component);
    if (found == displays_.end()) return false;
    if (found->second.lineup == mode) return true;
    found->second.lineup = mode;
    tell(found->second, display_aspect::lineup);
    return true;
}

void display_model::tallyChanged(const std::string& component, tally::status now, const tally_graph::reason* why) {
    display_record& display = entry(component);
    display.tally = now;
    display.why = why ? std::make_unique<const tally_graph::reason>(*why) : nullptr;
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
