// The tally part of the wall file: [[tally_in]] with its [[tally_in.map]]s
// and [[tally_in.output]]s, [[on_air]] and [[tie]], read into
// tally_input_config, tally::cascade and tally::tie (quon/tally/).
// Internal to quon_live, called by parseWall; the thread that reads.
#ifndef QUON_LIVE_WALL_TALLY_H
#define QUON_LIVE_WALL_TALLY_H

#include <toml++/toml.h>

#include <map>
#include <string>
#include <vector>

#include "quon/tally/tally_input_config.h"
#include "quon/tally/tally_types.h"

namespace quon {

// `tally_in`: a list of tables, each one input. Its outputs go to
// `cascade` (with the places of each in `cascadeWhere`, one an output); an
// output into another mixer is also a map of that mixer's.
void readTallyInputs(const toml::node& node, std::vector<tally::tally_input_config>& out, tally::cascade& cascade,
                     std::vector<std::map<std::string, std::string>>& cascadeWhere, const std::string& path,
                     std::vector<std::string>& errors);
// `on_air`: a list of tables, each a mixer or a router destination where on
// air ends; `where` gets the places of each destination.
void readOnAir(const toml::node& node, const std::vector<tally::tally_input_config>& inputs, tally::on_air& out,
               std::vector<std::map<std::string, std::string>>& where, const std::string& path,
               std::vector<std::string>& errors);
// `tie`: a list of tables, each one cable; `where` gets the places of each.
void readTies(const toml::node& node, std::vector<tally::tie>& out,
              std::vector<std::map<std::string, std::string>>& where, const std::string& path,
              std::vector<std::string>& errors);

}  // namespace quon

#endif
