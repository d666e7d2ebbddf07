// The lamps a display's screens show: those the wall's [tally.*] give its
// state sheet, with the [umd] program or preview lamp lit over them while
// its picture is on air. The UMD output and the page both show these.
#ifndef QUON_LIVE_DISPLAY_LAMPS_H
#define QUON_LIVE_DISPLAY_LAMPS_H

#include "quon/displays/display_model.h"
#include "quon/screens/umd_config.h"

namespace quon {

// `tallies` may be null: every lamp off.
tally_lamps displayLamps(const umd_config* tallies, const display_record& display);

}  // namespace quon

#endif
