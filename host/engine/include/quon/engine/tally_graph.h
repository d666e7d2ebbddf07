// tally_graph: which watched destinations show an on-air picture. It holds
// the routes it is told of ((matrix, destination) -> source), the tie lines
// (a destination of one router feeding a source of another) and the lit
// indices of the tally inputs, and says for each watched destination its
// state and why. No I/O.
//
// A picture is named by its origin: the source a destination's route leads
// back to, through tie lines, that no tie line feeds. A lit point (a
// destination or a source) puts its picture on air; every watched
// destination carrying the same picture lights; program wins over preview.
// A chain that comes back on itself (tie lines both ways, routed into a
// loop) ends there: the loop's picture is named by the lowest source on it,
// so every destination on or after the loop shows one picture and following
// never loops. A destination with no route known carries nothing.
//
// Incremental: a route change, a lit change or new tie lines visit only the
// points downstream of what changed and the destinations carrying the
// pictures whose state changed (an index by picture), never the wall.
//
// Threading: the host's one thread. Owned by the engine.
#ifndef QUON_ENGINE_TALLY_GRAPH_H
#define QUON_ENGINE_TALLY_GRAPH_H

#include <cstdint>
#include <map>
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

    // Why a watched destination shows its state.
    struct reason {
        tally::state now = tally::state::off;
        // The winning lit index (the strongest; of equals, the first by
        // input name and index); empty input when off.
        std::string input;
        int index = 0;
        // The destination's chain back to its picture's origin: the
        // destination, its routed source, the destination tied into that
        // source, ... to the origin. Then the lit point's chain to the same
        // origin.
        std::vector<tally::point> shown;
        std::vector<tally::point> lit;
    };

    // Watchers of a destination are counted: it stays watched until every
    // watch is taken back.
    void watch(int matrix, int destination);
    void unwatch(int matrix, int destination);

    // Each returns the watched destinations whose state changed, in order.
    // The source routed to a destination; 0: none known.
    std::vector<place> setRoute(int matrix, int destination, int source);
    // Lit indices as an input reports them (keyed by input and index); an
    // `off` one is put out and forgotten.
    std::vector<place> setLits(const std::vector<tally::lit>& lits);
    // The tie lines in place of those held. Of two tie lines into one
    // source, or out of one destination, the last holds (the wall file
    // refuses both).
    std::vector<place> setTies(const std::vector<tally::tie>& ties);

    tally::state stateOf(int matrix, int destination) const;
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
        tally::state now = tally::state::off;
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
    const lit_entry* winner(key origin) const;
    std::vector<place> finish(const batch& changed);

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
};

// The way of a reason in words, as the page and the API give it: "router 2
// destination 1 <- source 7 <- tie from router 1 destination 4 <- source 5;
// mixer1 index 3 lights router 1 destination 2 <- source 5".
std::string reasonText(const tally_graph::reason& why);

}  // namespace quon

#endif
