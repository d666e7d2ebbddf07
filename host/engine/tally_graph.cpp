#include "quon/engine/tally_graph.h"

#include <algorithm>
#include <cstdint>
#include <tuple>

namespace quon {

namespace {

using key = uint64_t;
constexpr key source_bit = key{1} << 32;

key destinationKey(int matrix, int destination) {
    return (key{static_cast<uint32_t>(matrix)} << 33) | static_cast<uint32_t>(destination);
}
key sourceKey(int matrix, int source) {
    return (key{static_cast<uint32_t>(matrix)} << 33) | source_bit | static_cast<uint32_t>(source);
}
key pointKey(const tally::point& p) {
    return p.kind == tally::point::end::source ? sourceKey(p.matrix, p.number) : destinationKey(p.matrix, p.number);
}
bool isSource(key k) { return (k & source_bit) != 0; }
int matrixOf(key k) { return static_cast<int>(k >> 33); }
int numberOf(key k) { return static_cast<int>(static_cast<uint32_t>(k)); }
tally::point pointOf(key k) {
    return {matrixOf(k), isSource(k) ? tally::point::end::source : tally::point::end::destination, numberOf(k)};
}

template <typename T>
void eraseOne(std::vector<T>& from, const T& value) {
    const auto found = std::find(from.begin(), from.end(), value);
    if (found != from.end()) {
        *found = from.back();
        from.pop_back();
    }
}

}  // namespace

key tally_graph::originOf(key at, std::vector<key>* chain) const {
    std::vector<key> tied;  // the tied sources passed, to find a loop
    for (;;) {
        if (chain) chain->push_back(at);
        if (!isSource(at)) {
            const auto r = routes_.find(at);
            if (r == routes_.end() || r->second == 0) return no_picture;
            at = sourceKey(matrixOf(at), r->second);
            continue;
        }
        const auto t = tieTo_.find(at);
        if (t == tieTo_.end()) return at;
        const auto again = std::find(tied.begin(), tied.end(), at);
        if (again != tied.end()) return *std::min_element(again, tied.end());
        tied.push_back(at);
        at = t->second;
    }
}

void tally_graph::downstream(key from, std::unordered_set<key>& out) const {
    std::vector<key> todo{from};
    while (!todo.empty()) {
        const key at = todo.back();
        todo.pop_back();
        if (!out.insert(at).second) continue;
        if (isSource(at)) {
            const auto routed = routedFrom_.find(at);
            if (routed == routedFrom_.end()) continue;
            for (int destination : routed->second) todo.push_back(destinationKey(matrixOf(at), destination));
        } else if (const auto t = tieFrom_.find(at); t != tieFrom_.end()) {
            todo.push_back(t->second);
        }
    }
}

void tally_graph::moveLit(lit_entry& entry, key origin, batch& changed) {
    if (entry.origin == origin) return;
    if (entry.origin != no_picture) {
        auto& on = litsOf_[entry.origin];
        eraseOne(on, &entry);
        if (on.empty()) litsOf_.erase(entry.origin);
        changed.pictures.insert(entry.origin);
    }
    entry.origin = origin;
    if (origin != no_picture) {
        litsOf_[origin].push_back(&entry);
        changed.pictures.insert(origin);
    }
}

void tally_graph::reorigin(const std::unordered_set<key>& points, batch& changed) {
    for (key at : points) {
        if (const auto w = watched_.find(at); w != watched_.end()) {
            const key origin = originOf(at);
            if (origin != w->second.origin) {
                if (w->second.origin != no_picture) {
                    auto& carriers = carriers_[w->second.origin];
                    carriers.erase(at);
                    if (carriers.empty()) carriers_.erase(w->second.origin);
                }
                w->second.origin = origin;
                if (origin != no_picture) carriers_[origin].insert(at);
                changed.destinations.insert(at);
            }
        }
        if (const auto lit = litsAt_.find(at); lit != litsAt_.end()) {
            const key origin = originOf(at);
            for (lit_entry* entry : lit->second) {
                if (entry->origin == origin) continue;
                moveLit(*entry, origin, changed);
            }
        }
    }
}

const tally_graph::lit_entry* tally_graph::winner(key origin) const {
    if (origin == no_picture) return nullptr;
    const auto on = litsOf_.find(origin);
    if (on == litsOf_.end()) return nullptr;
    const lit_entry* best = nullptr;
    for (const lit_entry* entry : on->second) {
        if (!best || entry->lit.now > best->lit.now ||
            (entry->lit.now == best->lit.now &&
             std::tie(entry->lit.input, entry->lit.index) < std::tie(best->lit.input, best->lit.index)))
            best = entry;
    }
    return best;
}

std::vector<tally_graph::place> tally_graph::finish(const batch& changed) {
    std::unordered_set<key> visit = changed.destinations;
    for (key picture : changed.pictures)
        if (const auto carriers = carriers_.find(picture); carriers != carriers_.end())
            visit.insert(carriers->second.begin(), carriers->second.end());
    std::vector<place> out;
    for (key at : visit) {
        const auto w = watched_.find(at);
        if (w == watched_.end()) continue;
        const lit_entry* best = winner(w->second.origin);
        const tally::state now = best ? best->lit.now : tally::state::off;
        if (now == w->second.now) continue;
        w->second.now = now;
        out.emplace_back(matrixOf(at), numberOf(at));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void tally_graph::watch(int matrix, int destination) {
    const key at = destinationKey(matrix, destination);
    watched_entry& w = watched_[at];
    if (w.count++ > 0) return;
    w.origin = originOf(at);
    if (w.origin != no_picture) carriers_[w.origin].insert(at);
    const lit_entry* best = winner(w.origin);
    w.now = best ? best->lit.now : tally::state::off;
}

void tally_graph::unwatch(int matrix, int destination) {
    const key at = destinationKey(matrix, destination);
    const auto w = watched_.find(at);
    if (w == watched_.end() || --w->second.count > 0) return;
    if (const auto carriers = carriers_.find(w->second.origin); carriers != carriers_.end()) {
        carriers->second.erase(at);
        if (carriers->second.empty()) carriers_.erase(carriers);
    }
    watched_.erase(w);
}

std::vector<tally_graph::place> tally_graph::setRoute(int matrix, int destination, int source) {
    const key at = destinationKey(matrix, destination);
    int& routed = routes_[at];
    if (routed == source) return {};
    if (routed != 0) {
        auto& from = routedFrom_[sourceKey(matrix, routed)];
        eraseOne(from, destination);
        if (from.empty()) routedFrom_.erase(sourceKey(matrix, routed));
    }
    routed = source;
    if (source != 0) routedFrom_[sourceKey(matrix, source)].push_back(destination);
    std::unordered_set<key> points;
    downstream(at, points);
    batch changed;
    reorigin(points, changed);
    return finish(changed);
}

std::vector<tally_graph::place> tally_graph::setLits(const std::vector<tally::lit>& lits) {
    batch changed;
    // Takes a lit out of its point and the pictures it lit.
    const auto drop = [&](decltype(lits_.begin()) found) {
        lit_entry& entry = found->second;
        auto& at = litsAt_[pointKey(entry.lit.at)];
        eraseOne(at, &entry);
        if (at.empty()) litsAt_.erase(pointKey(entry.lit.at));
        moveLit(entry, no_picture, changed);
        lits_.erase(found);
    };
    for (const tally::lit& lit : lits) {
        const auto id = std::make_pair(lit.input, lit.index);
        auto found = lits_.find(id);
        if (found != lits_.end() && !(found->second.lit.at == lit.at)) {
            // Mapped anew: out of its old point first.
            drop(found);
            found = lits_.end();
        }
        if (lit.now == tally::state::off) {
            if (found != lits_.end()) drop(found);
            continue;
        }
        if (found == lits_.end()) {
            found = lits_.emplace(id, lit_entry{lit, no_picture}).first;
            litsAt_[pointKey(lit.at)].push_back(&found->second);
            moveLit(found->second, originOf(pointKey(lit.at)), changed);
        } else if (found->second.lit.now != lit.now) {
            found->second.lit.now = lit.now;
            if (found->second.origin != no_picture) changed.pictures.insert(found->second.origin);
        }
    }
    return finish(changed);
}

std::vector<tally_graph::place> tally_graph::setTies(const std::vector<tally::tie>& ties) {
    // What a tie line changes is the picture of the source it feeds, and
    // everything downstream of that source, before and after.
    std::vector<tally::tie> moved;
    for (const tally::tie& t : ties_)
        if (std::find(ties.begin(), ties.end(), t) == ties.end()) moved.push_back(t);
    for (const tally::tie& t : ties)
        if (std::find(ties_.begin(), ties_.end(), t) == ties_.end()) moved.push_back(t);
    std::unordered_set<key> points;
    const auto touch = [&] {
        for (const tally::tie& t : moved) downstream(sourceKey(t.toMatrix, t.toSource), points);
    };
    touch();
    ties_ = ties;
    tieFrom_.clear();
    tieTo_.clear();
    for (const tally::tie& t : ties_) {
        const key from = destinationKey(t.fromMatrix, t.fromDestination);
        const key to = sourceKey(t.toMatrix, t.toSource);
        if (const auto old = tieTo_.find(to); old != tieTo_.end()) tieFrom_.erase(old->second);
        if (const auto old = tieFrom_.find(from); old != tieFrom_.end()) tieTo_.erase(old->second);
        tieFrom_[from] = to;
        tieTo_[to] = from;
    }
    touch();
    batch changed;
    reorigin(points, changed);
    return finish(changed);
}

tally::state tally_graph::stateOf(int matrix, int destination) const {
    const auto w = watched_.find(destinationKey(matrix, destination));
    if (w != watched_.end()) return w->second.now;
    const lit_entry* best = winner(originOf(destinationKey(matrix, destination)));
    return best ? best->lit.now : tally::state::off;
}

tally_graph::reason tally_graph::explain(int matrix, int destination) const {
    reason out;
    std::vector<key> chain;
    const key origin = originOf(destinationKey(matrix, destination), &chain);
    for (key k : chain) out.shown.push_back(pointOf(k));
    const lit_entry* best = winner(origin);
    if (!best) return out;
    out.now = best->lit.now;
    out.input = best->lit.input;
    out.index = best->lit.index;
    chain.clear();
    originOf(pointKey(best->lit.at), &chain);
    for (key k : chain) out.lit.push_back(pointOf(k));
    return out;
}

namespace {

// A chain of points in words: each destination's route ("<- source N") and
// each tie line ("<- tie from router M destination D").
std::string chainText(const std::vector<tally::point>& chain) {
    std::string text;
    for (size_t i = 0; i < chain.size(); ++i) {
        const tally::point& p = chain[i];
        const bool source = p.kind == tally::point::end::source;
        const std::string number = (source ? "source " : "destination ") + std::to_string(p.number);
        if (i == 0)
            text += "router " + std::to_string(p.matrix) + " " + number;
        else if (source)
            text += " <- " + number;
        else
            text += " <- tie from router " + std::to_string(p.matrix) + " " + number;
    }
    return text;
}

}  // namespace

std::string reasonText(const tally_graph::reason& why) {
    if (why.input.empty()) return "";
    return chainText(why.shown) + "; " + why.input + " index " + std::to_string(why.index) + " lights " +
           chainText(why.lit);
}

std::vector<int> tally_graph::routedDestinations(int matrix) const {
    std::vector<int> out;
    for (const auto& [at, source] : routes_)
        if (source != 0 && matrixOf(at) == matrix) out.push_back(numberOf(at));
    return out;
}

int tally_graph::route(int matrix, int destination) const {
    const auto r = routes_.find(destinationKey(matrix, destination));
    return r == routes_.end() ? 0 : r->second;
}

}  // namespace quon
