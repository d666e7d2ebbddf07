#include "quon/output/display_lines.h"

#include "quon/common/text.h"

namespace quon {

std::string displayLine(const host_engine& engine, const std::string& component) {
    return displayLine(component, engine.property(component, display_panel, display_control, "text"),
                       engine.property(component, display_panel, display_control, "statesheet").value_or(""));
}

std::string displayLine(const std::string& component, const std::optional<std::string>& text,
                        const std::string& statesheet) {
    if (!text) return escapedControls(component) + ": (no myMimic on panel 1)";
    std::string line = escapedControls(component) + ": [ " + escapedControls(systemText(*text)) + " ]";
    if (!statesheet.empty()) line += " (" + escapedControls(statesheet) + ")";
    return line;
}

void display_watch::propertyChanged(const property_change& change) {
    if (change.panel == display_panel && change.control == display_control &&
        (change.property == "text" || change.property == "statesheet"))
        changed_(change.component);
}

}  // namespace quon
