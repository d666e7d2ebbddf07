#include "quon/engine/panel_layout.h"

#include <filesystem>

#include <fstream>
#include <sstream>

#include "quon/common/text.h"

namespace quon {

const std::string* control_state::property(const std::string& name) const {
    for (const auto& p : properties)
        if (p.first == name) return &p.second;
    return nullptr;
}

void control_state::set(const std::string& name, const std::string& value) {
    for (auto& p : properties)
        if (p.first == name) {
            p.second = value;
            return;
        }
    properties.emplace_back(name, value);
}

control_state* panel_layout::control(const std::string& id) {
    for (control_state& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

const control_state* panel_layout::control(const std::string& id) const {
    return const_cast<panel_layout*>(this)->control(id);
}

bool parseLayout(const std::string& text, panel_layout& out, std::string& error) {
    panel_layout layout;
    std::istringstream lines(text);
    std::string raw;
    for (int number = 1; std::getline(lines, raw); ++number) {
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#') continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.compare(0, 8, "control ") == 0) {
            const std::string id = trimmed(line.substr(8));
            if (id.find_first_of(" \t'") != std::string::npos) {
                error = where + "control id \"" + id + "\" holds a blank or a quote";
                return false;
            }
            if (layout.control(id)) {
                error = where + "control \"" + id + "\" is declared twice";
                return false;
            }
            layout.controls.push_back(control_state{id, {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            error = where + "expected \"control ID\" or \"property = value\"";
            return false;
        }
        if (layout.controls.empty()) {
            error = where + "property before the first control";
            return false;
        }
        const std::string name = trimmed(line.substr(0, equals));
        if (name.empty() || name == "all") {
            error = where + "\"" + name + "\" cannot name a property";
            return false;
        }
        layout.controls.back().set(name, trimmed(line.substr(equals + 1)));
    }
    if (layout.controls.empty()) {
        error = "the layout declares no control";
        return false;
    }
    out = std::move(layout);
    return true;
}

bool loadLayout(const std::string& path, panel_layout& out, std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = "a folder, not a layout file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseLayout(text.str(), out, error);
}

}  // namespace quon
