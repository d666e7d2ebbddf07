#include "quon/output/display_lines.h"

#include "quon/common/text.h"

namespace quon {

std::string displayLine(const host_engine& engine, const std::string& component) {
    const std::optional<std::string> text = engine.property(component, display_panel, display_control, "text");
    if (!text) return escapedControls(component) + ": (no myMimic on panel 1)";
    const std::optional<std::string> sheet = engine.property(component, display_panel, display_control, "statesheet");
    std::string line = escapedControls(component) + ": [ " + escapedControls(systemText(*text)) + " ]";
    if (sheet && !sheet->empty()) line += " (" + escapedControls(*sheet) + ")";
    return line;
}

void display_watch::propertyChanged(const property_change& change) {
    if (change.panel == display_panel && change.control == display_control &&
        (change.property == "text" || change.property == "statesheet"))
        changed_(change.component);
}

}  // namespace quon
