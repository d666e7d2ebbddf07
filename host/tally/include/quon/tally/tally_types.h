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

namespace quon::tally {

// A point of the routers: a destination or a source of one matrix, numbered
// from 1 as the device file numbers them.
struct point {
    enum class end : uint8_t { destination, source };
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

// What a lit point is; program wins over preview wherever both meet.
enum class state : uint8_t { off = 0, preview = 1, program = 2 };

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
// as the wall file numbers it, the point it stands for and its state.
// An input reports a change of any of these; `off` puts the point out.
struct lit {
    std::string input;
    int index = 0;
    point at;
    state now = state::off;

    bool operator==(const lit& other) const {
        return input == other.input && index == other.index && at == other.at && now == other.now;
    }
};

}  // namespace quon::tally

#endif
