// What the readers of the wall file share (wall_file.cpp, wall_umd.cpp, wall_tally.cpp):
// where a node was written, and values of one type read with an error
// that names the place. Internal to quon_live; the thread that reads.
#ifndef QUON_LIVE_WALL_TOML_H
#define QUON_LIVE_WALL_TOML_H

#include <toml++/toml.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quon {

// "path:line:column: ".
std::string where(const std::string& path, const toml::source_region& region);
// A whole number within low..high, or an error naming where.
std::optional<int> integerAt(const toml::node& node, const std::string& key, long long low, long long high,
                             const std::string& path, std::vector<std::string>& errors);
std::optional<std::string> textAt(const toml::node& node, const std::string& key, const std::string& path,
                                  std::vector<std::string>& errors);
std::optional<bool> booleanAt(const toml::node& node, const std::string& key, const std::string& path,
                              std::vector<std::string>& errors);
// A duration in the host's one grammar (parseDuration); `aboveZero` refuses
// "0s" where nothing could happen in no time.
std::optional<std::chrono::milliseconds> durationAt(const toml::node& node, const std::string& key, bool aboveZero,
                                                    const std::string& path, std::vector<std::string>& errors);

}  // namespace quon

#endif
