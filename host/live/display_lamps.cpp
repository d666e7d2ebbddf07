#include "quon/live/display_lamps.h"

namespace quon {

tally_lamps displayLamps(const umd_config* tallies, const display_record& display) {
    if (display.lineup == lineup_mode::lamps) return tally_lamps{lamp_colour::red, lamp_colour::amber, lamp_colour::green, 3};
    if (!tallies) return tally_lamps{};
    const tally_lamps lamps = tallies->lampsFor(display.statesheet);
    if (!display.tally.lit()) return lamps;
    const tally_lights& lights = tallies->lightsFor(display.name);
    // The ISO lamp first, so that where it shares a lamp with the state's,
    // the state's colour shows.
    tally_lamps out = display.tally.iso ? lightUp(lamps, lights.iso) : lamps;
    switch (display.tally.now) {
    case tally::state::program: return lightUp(out, lights.program);
    case tally::state::hot: return lightUp(out, lights.hot);
    case tally::state::preview: return lightUp(out, lights.preview);
    default: return out;
    }
}

const std::string* displayText(const display_record& display) {
    if (display.lineup == lineup_mode::name) return &display.name;
    return display.text ? &*display.text : nullptr;
}

}  // namespace quon
