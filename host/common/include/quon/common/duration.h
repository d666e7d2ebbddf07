// The host's one way to write a duration: a whole number and a unit, "ms",
// "s" or "m" ("500ms", "5s", "2m", "0s"), the number at most 1,000,000,000.
// The wall file's `refresh` and the scenario language's waits use it.
#ifndef QUON_COMMON_DURATION_H
#define QUON_COMMON_DURATION_H

#include <chrono>
#include <string_view>

namespace quon {

// False, and `out` untouched, unless `text` is such a duration.
bool parseDuration(std::string_view text, std::chrono::milliseconds& out);

}  // namespace quon

#endif
