// The quick reading of a wall file: its common shape, [[display]] tables
// of one-line keys, read without toml++, whose parse of a hundred thousand
// displays takes a quarter of a second. Internal to quon_live; the thread
// that reads.
//
// It reads only what it is sure of, and only good displays: anything else
// (another table, a display with `parent` or a `umd` other than
// `{ index = N }`, an escape, a bad value) it leaves in place for the full
// reading, which alone says what
// is accepted and what is wrong (wall_file.cpp). It gives up when it
// cannot tell where a line belongs (a text or list over several lines, a
// table under `display`): the full reading then reads the whole file.
#ifndef QUON_LIVE_WALL_QUICK_H
#define QUON_LIVE_WALL_QUICK_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quon/live/wall_file.h"

namespace quon {

// What both readings hold a display's keys to.
struct whole_range {
    long long low, high;
};
constexpr whole_range matrix_range{1, 999};
constexpr whole_range destination_range{1, 65536};
constexpr whole_range sourcedb_range{0, 999};
bool isOneWord(std::string_view name);

struct quick_displays {
    std::vector<wall_display> displays;  // in file order, each good and named once
    // The displays' `umd = { index = N }` (each's place is the display's
    // place of "umd"), in file order: read once [umd] is, by addDisplayIndex.
    struct umd_index {
        size_t display;  // in `displays`
        long long index;
    };
    std::vector<umd_index> umd;
    // The file with the lines of those displays blank (each line keeps its
    // number), for the full reading; empty when nothing else is written.
    std::string rest;
};

// `file` is the path the displays are read from; `folder` its folder, which
// a relative `module` is taken from.
std::optional<quick_displays> readDisplaysQuickly(std::string_view text, const std::shared_ptr<const std::string>& file,
                                                  const std::string& folder);

}  // namespace quon

#endif
