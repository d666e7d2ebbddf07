// What a display's screens show: its text, and the lamps the wall's
// [tally.*] give its state sheet with the [umd] program, hot, preview or
// ISO lamp lit over them while its picture is lit; a line-up shows every
// lamp lit, or the display's own name. The UMD output and the page both
// show these.
#ifndef QUON_LIVE_DISPLAY_LAMPS_H
#define QUON_LIVE_DISPLAY_LAMPS_H

#include "quon/displays/display_model.h"
#include "quon/screens/umd_config.h"

namespace quon {

// `tallies` may be null: every lamp off.
tally_lamps displayLamps(const umd_config* tallies, const display_record& display);
// None until the component set its text, unless a line-up shows the name.
const std::string* displayText(const display_record& display);

}  // namespace quon

#endif
