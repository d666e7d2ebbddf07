#include "quon/live/display_feed.h"

#include "quon/output/display_lines.h"

namespace quon {

void display_feed::propertyChanged(const property_change& change) {
    if (change.panel != display_panel || change.control != display_control) return;
    if (change.property != "text" && change.property != "statesheet") return;
    if (const std::optional<display_change> display = read(change.component)) changed_(*display);
}

std::optional<display_change> display_feed::read(const std::string& component) const {
    const auto text = engine_.property(component, display_panel, display_control, "text");
    if (!text) return std::nullopt;
    display_change display;
    display.name = component;
    display.text = *text;
    display.statesheet = engine_.property(component, display_panel, display_control, "statesheet").value_or("");
    display.lamps = tallies_ ? tallies_->lampsFor(display.statesheet) : tally_lamps{};
    display.answered = engine_.answered(component);
    return display;
}

}  // namespace quon
