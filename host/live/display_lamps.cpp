#include "quon/live/display_lamps.h"

namespace quon {

tally_lamps displayLamps(const umd_config* tallies, const display_record& display) {
    if (!tallies) return tally_lamps{};
    const tally_lamps lamps = tallies->lampsFor(display.statesheet);
    if (display.tally == tally::state::off) return lamps;
    const tally_lights& lights = tallies->lightsFor(display.name);
    return lightUp(lamps, display.tally == tally::state::program ? lights.program : lights.preview);
}

}  // namespace quon
