// tally_graph: which watched destinations show an on-air picture. It holds
// the routes it is told of ((matrix, destination) -> source), the tie lines
// (a destination of one router feeding a source of another), the lit
// indices of the tally inputs and the mixers' cascade (which bus of a
// mixer feeds which router source or which other mixer's input, and where
// on air ends), and says for each watched destination its status and why.
// No I/O.
//
// A picture is named by its origin: the source a destination's route leads
// back to, through tie lines, that no tie line feeds (a mixer's output into
// another mixer is an origin of its own). A lit point (a destination, a
// source or an output) puts its picture on its mixer's buses; every watched
// destination carrying the same picture shows its status. A picture on a
// mixer's program is on air when that mixer is where on air ends, else
// hot; on preview, preview; and whatever is on a bus of a mixer takes the
// status of the picture that bus's output carries (through every level of
// a cascade). The strongest wins: program, then hot, then preview; ISO is
// a lamp beside them. A chain that comes back on itself (tie lines both
// ways, routed into a loop) ends there: the loop's picture is named by the
// lowest source on it; a cascade that comes back on itself (two mixers
// feeding each other) is followed once round.
//
// Incremental: a route change, a lit change or new tie lines visit only the
// points downstream of what changed, the pictures whose status follows
// theirs through the cascade, and the destinations carrying them (an index
// by picture), never the wall.
//
// Threading: the host's one thread. Owned by the engine.
#ifndef QUON_ENGINE_TALLY_GRAPH_H
#define QUON_ENGINE_TALLY_GRAPH_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "quon/tally/tally_types.h"

namespace quon {

class tally_graph {
public:
    // A watched destination: (matrix, destination).
    using place = std::pair<int, int>;

    // One lit index on the way to a state: its input (the mixer), index,
    // the point it stands for and the bus that counts.
    struct step {
        std::string input;
        int index = 0;
        tally::point at;
        tally::buses bus = 0;
    };
    // Why a watched destination shows its state.
    struct reason {
        tally::state now = tally::state::off;
        // The winning lit index (the strongest; of equals, the first by
        // input name and index); empty input when off, or when on air only
        // because an on-air destination carries the picture.
        std::string input;
        int index = 0;
        // The destination's chain back to its picture's origin: the
        // destination, its routed source, the destination tied into that
        // source, ... to the origin. Then the lit point's chain to the same
        // origin.
        std::vector<tally::point> shown;
        std::vector<tally::point> lit;
        // The cascade, from the winning lit index on: way[0] is that index;
        // each next one lights the output of the last one's bus, whose
        // point is in feeds (one fewer). Ends where the state comes from: a
        // mixer's own bus, or `endsAt`, the on-air destination the last
        // picture reaches.
        std::vector<step> way;
        std::vector<tally::point> feeds;
        std::optional<tally::point> endsAt;
        // The names of the mixers of output points, for the words.
        std::map<int, std::string> mixers;
    };

    // Watchers of a destination are counted: it stays watched until every
    // watch is taken back.
    void watch(int matrix, int destination);
    void unwatch(int matrix, int destination);

    // Each returns the watched destinations whose state changed, in order.
    // The source routed to a destination; 0: none known.
    std::vector<place> setRoute(int matrix, int destination, int source);
    // Lit indices as an input reports them (keyed by input and index); one
    // on no bus is put out and forgotten.
    std::vector<place> setLits(const std::vector<tally::lit>& lits);
    // The mixers' outputs and where on air ends, in place of those held.
    std::vector<place> setCascade(const tally::cascade& cascade);
    // The tie lines in place of those held. Of two tie lines into one
    // source, or out of one destination, the last holds (the wall file
    // refuses both).
    std::vector<place> setTies(const std::vector<tally::tie>& ties);

    tally::status statusOf(int matrix, int destination) const;
    reason explain(int matrix, int destination) const;
    // The source known routed to the destination; 0 when none.
    int route(int matrix, int destination) const;
    // The destinations of `matrix` whose route is known, in no order.
    std::vector<int> routedDestinations(int matrix) const;
    const std::vector<tally::tie>& ties() const { return ties_; }

private:
    using key = uint64_t;
    static constexpr key no_picture = ~key{0};  // a destination with no route
    struct lit_entry {
        tally::lit lit;
        key origin = no_picture;
    };
    struct watched_entry {
        int count = 0;
        key origin = no_picture;
        tally::status now;
    };
    struct output_entry {
        key feeds = 0;
        key picture = no_picture;  // what the output's point carries: its origin
    };
    // The way of a picture's strongest state, when explaining.
    struct way {
        std::vector<step> steps;
        std::vector<tally::point> feeds;
        std::optional<tally::point> endsAt;
    };
    // What a change touched: destinations whose picture moved, pictures
    // whose lit indices changed.
    struct batch {
        std::unordered_set<key> destinations;
        std::unordered_set<key> pictures;
    };

    // Everything downstream of a point: itself, and when a tie line leaves
    // it (or its routed destinations) the points fed that way, each once.
    void downstream(key from, std::unordered_set<key>& out) const;
    // Follows a point back to its picture's origin; `chain` gets the points
    // on the way when given.
    key originOf(key at, std::vector<key>* chain = nullptr) const;
    // Recomputes the origins of the watched destinations and lit points in
    // `points`.
    void reorigin(const std::unordered_set<key>& points, batch& changed);
    void moveLit(lit_entry& entry, key origin, batch& changed);
    // The status of a picture from what lights it and, through the outputs
    // of the mixers it is on, from what those carry; `path` holds the
    // pictures being followed (a cascade back on itself stops there), and
    // `best` gets the way of the strongest state when given.
    tally::status compute(key picture, std::vector<key>& path, way* best) const;
    tally::status held(key picture) const;
    // Recomputes the pictures whose lit indices changed and, through the
    // cascade, those whose status follows theirs; says the watched
    // destinations whose status changed.
    std::vector<place> finish(const batch& changed);
    // The pictures of the outputs, after the ties or the outputs changed;
    // marks the pictures that move.
    void reoutput(batch& changed);
    bool onAirMixer(const std::string& mixer) const;

    std::unordered_map<key, int> routes_;                    // destination -> source number
    std::unordered_map<key, std::vector<int>> routedFrom_;   // source -> destination numbers
    std::vector<tally::tie> ties_;
    std::unordered_map<key, key> tieFrom_;  // destination -> the source it feeds
    std::unordered_map<key, key> tieTo_;    // source -> the destination feeding it
    std::unordered_map<key, watched_entry> watched_;
    std::unordered_map<key, std::unordered_set<key>> carriers_;  // origin -> watched destinations
    std::map<std::pair<std::string, int>, lit_entry> lits_;     // stable nodes
    std::unordered_map<key, std::vector<lit_entry*>> litsAt_;    // point -> lit indices naming it
    std::unordered_map<key, std::vector<lit_entry*>> litsOf_;    // origin -> lit indices on it
    tally::cascade cascade_;
    std::map<std::pair<std::string, tally::buses>, std::vector<output_entry>> outputs_;  // a mixer's bus -> its outputs
    std::unordered_map<key, std::vector<std::pair<std::string, tally::buses>>> outputsAt_;  // picture -> outputs carrying it
    std::unordered_map<key, key> onAirAt_;  // on-air destination -> its origin
    std::unordered_map<key, int> onAirPictures_;  // origin -> on-air destinations carrying it
    std::unordered_map<key, tally::status> status_;  // pictures lit, with their status
    std::map<int, std::string> mixerNames_;  // mixerNumber -> name, of the outputs into mixers
};

// The way of a reason in words, as the page and the API give it: "router 2
// destination 1 <- source 7 <- tie from router 1 destination 4 <- source 5;
// mixer1 index 3 lights router 1 destination 2 <- source 5".
std::string reasonText(const tally_graph::reason& why);

}  // namespace quon

#endif
