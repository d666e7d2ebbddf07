// Panel layout files (.quon_ui): the controls of a panel with their
// initial properties, in layout order.
//
//   # comment
//   control myMimic
//     text =
//     statesheet = default
//
// "control ID" starts a control; "NAME = VALUE" lines give the properties
// of the control above them (blanks around both are removed; the value may
// be empty). A file without controls, a property outside a control, a
// repeated control id or any other line makes the layout malformed.
#ifndef QUON_ENGINE_PANEL_LAYOUT_H
#define QUON_ENGINE_PANEL_LAYOUT_H

#include <string>
#include <utility>
#include <vector>

namespace quon {

struct control_state {
    std::string id;
    std::vector<std::pair<std::string, std::string>> properties;  // in order

    const std::string* property(const std::string& name) const;
    void set(const std::string& name, const std::string& value);
};

struct panel_layout {
    std::vector<control_state> controls;

    control_state* control(const std::string& id);
    const control_state* control(const std::string& id) const;
};

// Parses `text`; on failure returns false with "line N: what" in `error`.
bool parseLayout(const std::string& text, panel_layout& out, std::string& error);
bool loadLayout(const std::string& path, panel_layout& out, std::string& error);

}  // namespace quon

#endif
