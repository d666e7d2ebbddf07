#include "quon/live/umd_listener.h"

#include "quon/output/display_lines.h"

namespace quon {

void umd_listener::propertyChanged(const property_change& change) {
    if (change.panel != display_panel || change.control != display_control) return;
    if (change.property != "text" && change.property != "statesheet") return;
    resend(change.component);
}

void umd_listener::resend(const std::string& component) {
    // Before its router answers, a display shows no source: the screen
    // keeps its last good name rather than a blank.
    if (!engine_.answered(component)) return;
    const auto text = engine_.property(component, display_panel, display_control, "text");
    if (!text) return;
    const auto sheet = engine_.property(component, display_panel, display_control, "statesheet");
    output_.show(component, *text, sheet.value_or(""));
}

}  // namespace quon
