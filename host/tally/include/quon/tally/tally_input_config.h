// What the wall file says of one tally input ([[tally_in]] and its
// [[tally_in.map]]s): where it listens, which bits mean program, preview
// and ISO, and what the sender's indices stand for (a router point, or
// another mixer's bus: [[tally_in.output]] of that mixer). live/wall_file.h reads
// it; docs/tally.md describes the settings.
//
// Plain values, no pointers; read on whatever thread parses the wall file.
#ifndef QUON_TALLY_TALLY_INPUT_CONFIG_H
#define QUON_TALLY_TALLY_INPUT_CONFIG_H

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quon/tally/tally_types.h"

namespace quon::tally {

// The protocol and transport of `listen`: "tsl5+udp", "tsl5+tcp" (a
// listening server), "tsl31+udp".
enum class tally_wire : uint8_t { tsl5_udp, tsl5_tcp, tsl31_udp };

// A run of the sender's indices, `index` to `index + count - 1`, standing
// one to one for the points from `first` on (its number counting up).
struct tally_map {
    int index = 0;
    int count = 1;
    point first;
    // "path:line:column: " of each key as written ("matrix", "destination"
    // or "source", "index"), and of the [[tally_in.map]] under "".
    std::map<std::string, std::string> where;

    bool operator==(const tally_map& other) const {
        return index == other.index && count == other.count && first == other.first;
    }
};

struct tally_input_config {
    std::string name;
    tally_wire wire = tally_wire::tsl5_udp;
    std::string address;  // the numeric address it binds, as written
    uint16_t port = 0;    // 0: any free port (tests)
    // TSL 5: the only screen read (a packet to every screen, 0xFFFF, is
    // read too); none: every screen.
    std::optional<uint16_t> screen;
    std::chrono::milliseconds timeout{3000};  // down after this long without a packet
    bool clearOnLoss = false;                 // on_loss = "clear"; else "hold"
    // TSL 5: the lamp colour that means it (1 red, 2 green, 3 amber), on
    // any of the three lamps; TSL 3.1: the tally number (1 to 4).
    int program = 1;
    int preview = 2;
    int iso = 0;  // 0: the sender shows no ISO bus
    // TSL 3.1: the index of the map is the address on the wire plus this
    // (senders that number their displays from 1 send display 1 as 0).
    int addressBase = 0;
    std::vector<tally_map> maps;  // in file order; no index in two of them
    // "path:line:column: " of the [[tally_in]] under "", and of each key.
    std::map<std::string, std::string> where;

    bool tsl31() const { return wire == tally_wire::tsl31_udp; }
    // Where `key` was written, else where the input begins.
    const std::string& at(const std::string& key) const {
        const auto found = where.find(key);
        return found != where.end() ? found->second : where.at("");
    }
    // Equal settings: a reload keeps such an input as it runs.
    bool operator==(const tally_input_config& other) const {
        return name == other.name && wire == other.wire && address == other.address && port == other.port &&
               screen == other.screen && timeout == other.timeout && clearOnLoss == other.clearOnLoss &&
               program == other.program && preview == other.preview && iso == other.iso &&
               addressBase == other.addressBase &&
               maps == other.maps;
    }
    bool operator!=(const tally_input_config& other) const { return !(*this == other); }
};

// "tsl5+udp://127.0.0.1:8910", as the wall file writes `listen`.
std::string listenText(const tally_input_config& input);

}  // namespace quon::tally

#endif
