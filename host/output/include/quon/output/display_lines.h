// A display as a line of text: the text and state sheet of the control it
// shows (display_model.h), which is where a UMD component shows its source
// name. The shell and serve print these as the display model tells them
// of a change; a scenario's transcript reads them from the engine.
#ifndef QUON_OUTPUT_DISPLAY_LINES_H
#define QUON_OUTPUT_DISPLAY_LINES_H

#include <string>

#include "quon/displays/display_model.h"
#include "quon/engine/engine_components.h"

namespace quon {

// "name: [ CAM 1 ] (statesheet)", or "name: (no myMimic on panel 1)".
std::string displayLine(const display_record& display);
// The same of a component as the engine holds it now, showing
// myMimic on panel 1.
std::string displayLine(const engine_components& components, const std::string& component);

}  // namespace quon

#endif
