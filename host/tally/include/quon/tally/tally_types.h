// What the vision mixers' tally says, as plain values: the seam between the
// tally inputs (which read the mixers and the wall file's mappings) and the
// engine (which follows each lit point through routes and tie lines to the
// displays that show it). docs/tally.md describes tally as a user sees it.
//
// Plain values, no pointers; made and read on the host's event loop.
#ifndef QUON_TALLY_TALLY_TYPES_H
#define QUON_TALLY_TALLY_TYPES_H

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace quon::tally {

// A point a picture passes: a destination or a source of one matrix,
// numbered from 1 as the device file numbers them; or the output of one of
// a mixer's buses that feeds another mixer's input directly (no router
// between), `matrix` the bus (bus_number) and `number` the mixer's
// (mixerNumber).
struct point {
    enum class end : uint8_t { destination, source, output };
    int matrix = 0;
    end kind = end::destination;
    int number = 0;

    bool operator<(const point& other) const {
        return std::tie(matrix, kind, number) < std::tie(other.matrix, other.kind, other.number);
    }
    bool operator==(const point& other) const {
        return std::tie(matrix, kind, number) == std::tie(other.matrix, other.kind, other.number);
    }
};

// The buses of a mixer an index can be on at once (a set of bits): its
// program, its preview, and an ISO or record bus.
using buses = uint8_t;
constexpr buses program_bus = 1, preview_bus = 2, iso_bus = 4;
// The bus of an output point's `matrix`, and its name in the wall file and
// the log ("program", "preview", "iso").
inline int busNumber(buses bus) { return bus == program_bus ? 1 : bus == preview_bus ? 2 : 3; }
inline const char* busName(buses bus) {
    return bus == program_bus ? "program" : bus == preview_bus ? "preview" : "iso";
}

// What a picture is in, weakest first; the strongest wins wherever several
// meet. `hot`: in a mixer's program, but that program does not reach where
// on air ends (a studio off air). `program`: on air, all the way.
enum class state : uint8_t { off = 0, preview = 1, hot = 2, program = 3 };
// "off", "preview", "hot", "program".
inline const char* stateName(state s) {
    const char* const names[] = {"off", "preview", "hot", "program"};
    return names[static_cast<int>(s)];
}

// A picture's tally: its state, and whether it is on an ISO or record bus
// (a lamp of its own, lit beside any state).
struct status {
    state now = state::off;
    bool iso = false;

    bool lit() const { return now != state::off || iso; }
    bool operator==(const status& other) const { return now == other.now && iso == other.iso; }
    bool operator!=(const status& other) const { return !(*this == other); }
};

// A cable from a destination of one router into a source of another: that
// source carries whatever is routed to that destination.
struct tie {
    int fromMatrix = 0;
    int fromDestination = 0;
    int toMatrix = 0;
    int toSource = 0;

    bool operator==(const tie& other) const {
        return std::tie(fromMatrix, fromDestination, toMatrix, toSource) ==
               std::tie(other.fromMatrix, other.fromDestination, other.toMatrix, other.toSource);
    }
};

// One mapped index of one input, now: the input's name, the sender's index
// as the wall file numbers it, the point it stands for and the buses it is
// on. An input reports a change of any of these; no bus puts the point out.
struct lit {
    std::string input;
    int index = 0;
    point at;
    buses on = 0;

    bool operator==(const lit& other) const {
        return input == other.input && index == other.index && at == other.at && on == other.on;
    }
};

// One bus of a mixer (a tally input) feeding on: a router source carries
// it, or it is another mixer's input (`feeds` then the output point,
// outputPoint). Whatever is on that bus goes where its output goes.
struct output {
    std::string mixer;
    buses bus = program_bus;
    point feeds;

    bool operator==(const output& other) const {
        return mixer == other.mixer && bus == other.bus && feeds == other.feeds;
    }
};

// Where on air ends: the program of these mixers (the transmission
// mixers) and these router destinations (the station's outputs). Nothing
// named: every mixer's program is on air.
struct on_air {
    std::vector<std::string> mixers;
    std::vector<point> destinations;

    bool named() const { return !mixers.empty() || !destinations.empty(); }
    bool operator==(const on_air& other) const {
        return mixers == other.mixers && destinations == other.destinations;
    }
};

// The mixers' outputs and where on air ends, as the wall file gives them.
struct cascade {
    std::vector<output> outputs;
    on_air end;

    bool operator==(const cascade& other) const { return outputs == other.outputs && end == other.end; }
    bool operator!=(const cascade& other) const { return !(*this == other); }
};

// A mixer's number in an output point: its name's FNV-1a hash, 31 bits, so
// that it stays the same at every reload whatever else the file changes.
inline int mixerNumber(const std::string& mixer) {
    uint32_t hash = 2166136261u;
    for (const char c : mixer) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    return static_cast<int>(hash & 0x7FFFFFFFu);
}
// The point that is `mixer`'s `bus` feeding another mixer's input.
inline point outputPoint(const std::string& mixer, buses bus) {
    return {busNumber(bus), point::end::output, mixerNumber(mixer)};
}

}  // namespace quon::tally

#endif
