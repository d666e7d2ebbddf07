#include "quon/output/display_lines.h"

#include "quon/common/text.h"

namespace quon {

std::string displayLine(const display_record& display) {
    const std::string name = escapedControls(display.name);
    if (!display.text)
        return name + ": (no " + escapedControls(display.shows->control) + " on panel " +
               escapedControls(display.shows->panel) + ")";
    std::string line = name + ": [ " + escapedControls(systemText(*display.text)) + " ]";
    if (!display.statesheet.empty()) line += " (" + escapedControls(display.statesheet) + ")";
    return line;
}

std::string displayLine(const engine_components& components, const std::string& component) {
    static const display_control mimic;
    display_record display;
    display.name = component;
    display.shows = &mimic;
    display.text = components.property(component, mimic.panel, mimic.control, "text");
    display.statesheet = components.property(component, mimic.panel, mimic.control, "statesheet").value_or("");
    return displayLine(display);
}

}  // namespace quon
