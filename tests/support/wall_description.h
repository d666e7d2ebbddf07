// A wall as text: everything a reading of the wall file gives that a later
// check or the start uses, for tests and fuzz targets that hold two
// readings alike. Header only: its users link quon_live.
#ifndef QUON_TESTS_WALL_DESCRIPTION_H
#define QUON_TESTS_WALL_DESCRIPTION_H

#include <string>
#include <vector>

#include "quon/live/wall_file.h"

namespace quon::test {

inline std::string described(bool read, const wall& w, const std::vector<std::string>& errors) {
    std::string out = read ? "read\n" : "refused\n";
    for (const std::string& e : errors) out += e + "\n";
    for (const wall_display& d : w.displays) {
        out += d.name + "|" + d.module + "|" + d.instance.value_or("-") + "|" + d.statesheet.value_or("-") + "|" +
               std::to_string(d.matrix.value_or(-1)) + "|" + std::to_string(d.destination.value_or(-1)) + "|" +
               std::to_string(d.sourceDatabase.value_or(-1)) + "|" + std::to_string(d.refusedKeys) + "|" +
               (d.file ? *d.file : "?");
        for (const std::string& p : d.parent) out += "|" + p;
        for (const wall_display::place& p : d.places)
            out += " " + std::to_string(p.line) + ":" + std::to_string(p.column);
        out += "\n";
    }
    for (const umd_display& u : w.umd.displays) out += "umd " + u.name + " " + std::to_string(u.index) + "\n";
    for (const auto& where : w.tieWhere)
        for (const auto& [key, place] : where) out += "tie " + key + " " + place + "\n";
    return out + std::to_string(w.umd.refresh.count()) + " " + std::to_string(w.tallyInputs.size()) + "\n";
}

}  // namespace quon::test

#endif
