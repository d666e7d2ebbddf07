// The UMD output's part of the wall file: [umd], [tally.NAME] and the `umd`
// of each [[display]], read into a umd_config with the limits and schemes
// of the screen protocols (screen_protocol.h). Internal to quon_live,
// called by parseWall; the thread that reads.
#ifndef QUON_LIVE_WALL_UMD_H
#define QUON_LIVE_WALL_UMD_H

#include <toml++/toml.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "quon/screens/umd_config.h"

namespace quon {

// What [umd] gives every display that does not say otherwise.
struct umd_defaults {
    std::optional<umd_destination> to;
    bool toRefused = false;  // [umd] has a `to` that is wrong, said once there
    uint16_t screen = 0;
    router_lost lost;
};

// Where a display sits on its receiver, to find an index used twice.
using display_place = std::tuple<umd_destination, uint16_t, uint16_t>;

// [umd]: the output's settings into `config`, the displays' defaults into
// `defaults`.
void readUmdTable(const toml::table& table, umd_config& config, umd_defaults& defaults, const std::string& path,
                  std::vector<std::string>& errors);
// [tally.NAME]: each state sheet's lamps.
void readTallies(const toml::table& tallies, umd_config& config, const std::string& path,
                 std::vector<std::string>& errors);
// A display's `umd = { index = N }`, nothing else in it, as readDisplayUmd
// reads it (for the quick reading, wall_quick.h): false, nothing added,
// where that would be an error, which the full reading then says. `where`
// is the index's place.
bool addDisplayIndex(const std::string& name, long long index, const umd_defaults& defaults, umd_config& config,
                     std::map<display_place, toml::source_region>& places, const toml::source_region& where);
// The `umd` of display `name`: added to `config` unless it is wrong;
// `places` finds an index used twice.
void readDisplayUmd(const toml::node& node, const std::string& name, const umd_defaults& defaults,
                    umd_config& config, std::map<display_place, toml::source_region>& places,
                    const std::string& path, std::vector<std::string>& errors);

}  // namespace quon

#endif
