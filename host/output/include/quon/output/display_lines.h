// A display as a line of text: the text and state sheet of the control
// `myMimic` on panel "1" of a component, which is where a UMD component
// shows its source name. The shell and serve print these; the listener
// below says when one changed, so nothing polls.
#ifndef QUON_OUTPUT_DISPLAY_LINES_H
#define QUON_OUTPUT_DISPLAY_LINES_H

#include <functional>
#include <optional>
#include <string>

#include "quon/engine/host_engine.h"
#include "quon/engine/host_listener.h"

namespace quon {

// The panel and control a display shows.
inline constexpr const char* display_panel = "1";
inline constexpr const char* display_control = "myMimic";

// "name: [ CAM 1 ] (statesheet)", or "name: (no myMimic on panel 1)".
std::string displayLine(const host_engine& engine, const std::string& component);
// The same from a display's text (none: no myMimic) and state sheet.
std::string displayLine(const std::string& component, const std::optional<std::string>& text,
                        const std::string& statesheet);

// Calls `changed` with the component's name whenever the text or state
// sheet of its display is set (to the same value or another): the one rule
// of what changes a display, which display_feed (live/) builds on.
class display_watch : public host_listener {
public:
    explicit display_watch(std::function<void(const std::string&)> changed) : changed_(std::move(changed)) {}
    void propertyChanged(const property_change& change) override;

private:
    std::function<void(const std::string&)> changed_;
};

}  // namespace quon

#endif
