// The tally part of the wall file: [[tally_in]] with its [[tally_in.map]]s
// and [[tie]], read into tally_input_config and tally::tie (quon/tally/).
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

// `tally_in`: a list of tables, each one input.
void readTallyInputs(const toml::node& node, std::vector<tally::tally_input_config>& out, const std::string& path,
                     std::vector<std::string>& errors);
// `tie`: a list of tables, each one cable; `where` gets the places of each.
void readTies(const toml::node& node, std::vector<tally::tie>& out,
              std::vector<std::map<std::string, std::string>>& where, const std::string& path,
              std::vector<std::string>& errors);

}  // namespace quon

#endif
