#include "quon/engine/tally_graph.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <tuple>

namespace quon {

namespace {

using key = uint64_t;
constexpr key source_bit = key{1} << 32;
// An output point is a source no route or tie leads into: its own origin.
constexpr key output_bits = (key{1} << 62) | source_bit;

key destinationKey(int matrix, int destination) {
    return (key{static_cast<uint32_t>(matrix)} << 33) | static_cast<uint32_t>(destination);
}
key sourceKey(int matrix, int source) {
    return (key{static_cast<uint32_t>(matrix)} << 33) | source_bit | static_cast<uint32_t>(source);
}
key pointKey(const tally::point& p) {
    switch (p.kind) {
    case tally::point::end::source: return sourceKey(p.matrix, p.number);
    case tally::point::end::output: return sourceKey(p.matrix, p.number) | output_bits;
    default: return destinationKey(p.matrix, p.number);
    }
}
bool isSource(key k) { return (k & source_bit) != 0; }
bool isOutput(key k) { return (k & output_bits) == output_bits; }
int matrixOf(key k) { return static_cast<int>((k >> 33) & 0x1FFFFFFF); }
int numberOf(key k) { return static_cast<int>(static_cast<uint32_t>(k)); }
tally::point pointOf(key k) {
    const tally::point::end kind = isOutput(k)   ? tally::point::end::output
                                   : isSource(k) ? tally::point::end::source
                                                 : tally::point::end::destination;
    return {matrixOf(k), kind, numberOf(k)};
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
        if (const auto end = onAirAt_.find(at); end != onAirAt_.end()) {
            const key origin = originOf(at);
            if (origin != end->second) {
                if (end->second != no_picture) {
                    changed.pictures.insert(end->second);
                    if (--onAirPictures_[end->second] == 0) onAirPictures_.erase(end->second);
                }
                end->second = origin;
                if (origin != no_picture) {
                    changed.pictures.insert(origin);
                    ++onAirPictures_[origin];
                }
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

bool tally_graph::onAirMixer(const std::string& mixer) const {
    if (!cascade_.end.named()) return true;
    const auto& mixers = cascade_.end.mixers;
    return std::find(mixers.begin(), mixers.end(), mixer) != mixers.end();
}

tally::status tally_graph::compute(key picture, std::vector<key>& path, way* best) const {
    tally::status out;
    const lit_entry* winning = nullptr;
    // The strongest state wins; of equals, the lit index first by input
    // name and index, an on-air destination before any.
    const auto consider = [&](tally::state now, const lit_entry* by, tally::buses bus, way* through) {
        const bool stronger = now > out.now;
        const bool earlier = now == out.now && now != tally::state::off && winning && by &&
                             std::tie(by->lit.input, by->lit.index) < std::tie(winning->lit.input, winning->lit.index);
        if (!stronger && !earlier) return;
        out.now = now;
        winning = by;
        if (!best) return;
        *best = through ? std::move(*through) : way{};
        if (by) best->steps.insert(best->steps.begin(), step{by->lit.input, by->lit.index, by->lit.at, bus});
    };
    if (onAirPictures_.count(picture)) {
        out.now = tally::state::program;
        if (best) {
            *best = way{};
            for (const auto& [at, origin] : onAirAt_)
                if (origin == picture && (!best->endsAt || pointOf(at) < *best->endsAt)) best->endsAt = pointOf(at);
        }
    }
    const auto on = litsOf_.find(picture);
    if (on == litsOf_.end()) return out;
    path.push_back(picture);
    for (const lit_entry* entry : on->second) {
        const tally::buses buses = entry->lit.on;
        if (buses & tally::program_bus)
            consider(onAirMixer(entry->lit.input) ? tally::state::program : tally::state::hot, entry,
                     tally::program_bus, nullptr);
        if (buses & tally::preview_bus) consider(tally::state::preview, entry, tally::preview_bus, nullptr);
        if (buses & tally::iso_bus) out.iso = true;
        for (const tally::buses bus : {tally::program_bus, tally::preview_bus, tally::iso_bus}) {
            if (!(buses & bus)) continue;
            const auto outputs = outputs_.find({entry->lit.input, bus});
            if (outputs == outputs_.end()) continue;
            for (const output_entry& o : outputs->second) {
                if (o.picture == no_picture || std::find(path.begin(), path.end(), o.picture) != path.end()) continue;
                way through;
                const tally::status carried = compute(o.picture, path, best ? &through : nullptr);
                out.iso = out.iso || carried.iso;
                if (best) through.feeds.insert(through.feeds.begin(), pointOf(o.feeds));
                consider(carried.now, entry, bus, best ? &through : nullptr);
            }
        }
    }
    path.pop_back();
    return out;
}

tally::status tally_graph::held(key picture) const {
    if (picture == no_picture) return {};
    const auto found = status_.find(picture);
    return found == status_.end() ? tally::status{} : found->second;
}

std::vector<tally_graph::place> tally_graph::finish(const batch& changed) {
    // Whatever is on a bus whose output carries a changed picture may
    // change with it, through every level.
    std::unordered_set<key> pictures = changed.pictures;
    std::vector<key> todo(pictures.begin(), pictures.end());
    while (!todo.empty()) {
        const key picture = todo.back();
        todo.pop_back();
        const auto carried = outputsAt_.find(picture);
        if (carried == outputsAt_.end()) continue;
        for (const auto& [mixer, bus] : carried->second)
            for (auto e = lits_.lower_bound({mixer, std::numeric_limits<int>::min()});
                 e != lits_.end() && e->first.first == mixer; ++e)
                if ((e->second.lit.on & bus) && e->second.origin != no_picture &&
                    pictures.insert(e->second.origin).second)
                    todo.push_back(e->second.origin);
    }
    std::unordered_set<key> visit = changed.destinations;
    std::vector<key> path;
    for (key picture : pictures) {
        const tally::status now = compute(picture, path, nullptr);
        if (now == held(picture)) continue;
        if (now.lit())
            status_[picture] = now;
        else
            status_.erase(picture);
        if (const auto carriers = carriers_.find(picture); carriers != carriers_.end())
            visit.insert(carriers->second.begin(), carriers->second.end());
    }
    std::vector<place> out;
    for (key at : visit) {
        const auto w = watched_.find(at);
        if (w == watched_.end()) continue;
        const tally::status now = held(w->second.origin);
        if (now == w->second.now) continue;
        w->second.now = now;
        out.emplace_back(matrixOf(at), numberOf(at));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void tally_graph::reoutput(batch& changed) {
    outputsAt_.clear();
    for (auto& [bus, outputs] : outputs_)
        for (output_entry& o : outputs) {
            const key picture = originOf(o.feeds);
            if (picture != o.picture) {
                if (o.picture != no_picture) changed.pictures.insert(o.picture);
                if (picture != no_picture) changed.pictures.insert(picture);
                o.picture = picture;
            }
            if (picture != no_picture) outputsAt_[picture].push_back(bus);
        }
}

std::vector<tally_graph::place> tally_graph::setCascade(const tally::cascade& cascade) {
    if (cascade == cascade_) return {};
    batch changed;
    // Every lit picture may change with where on air ends; the outputs'
    // pictures before and after change what is on the buses feeding them.
    for (const auto& [picture, status] : status_) changed.pictures.insert(picture);
    for (const auto& [picture, lits] : litsOf_) changed.pictures.insert(picture);
    for (const auto& [bus, outputs] : outputs_)
        for (const output_entry& o : outputs)
            if (o.picture != no_picture) changed.pictures.insert(o.picture);
    cascade_ = cascade;
    outputs_.clear();
    mixerNames_.clear();
    for (const tally::output& o : cascade_.outputs) {
        outputs_[{o.mixer, o.bus}].push_back(output_entry{pointKey(o.feeds), no_picture});
        if (o.feeds.kind == tally::point::end::output) mixerNames_[o.feeds.number] = o.mixer;
    }
    for (const auto& [at, origin] : onAirAt_)
        if (origin != no_picture) changed.pictures.insert(origin);
    onAirAt_.clear();
    onAirPictures_.clear();
    for (const tally::point& p : cascade_.end.destinations) {
        const key at = pointKey(p);
        const key origin = originOf(at);
        onAirAt_[at] = origin;
        if (origin != no_picture) {
            ++onAirPictures_[origin];
            changed.pictures.insert(origin);
        }
    }
    reoutput(changed);
    return finish(changed);
}

void tally_graph::watch(int matrix, int destination) {
    const key at = destinationKey(matrix, destination);
    watched_entry& w = watched_[at];
    if (w.count++ > 0) return;
    w.origin = originOf(at);
    if (w.origin != no_picture) carriers_[w.origin].insert(at);
    w.now = held(w.origin);
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
        if (lit.on == 0) {
            if (found != lits_.end()) drop(found);
            continue;
        }
        if (found == lits_.end()) {
            found = lits_.emplace(id, lit_entry{lit, no_picture}).first;
            litsAt_[pointKey(lit.at)].push_back(&found->second);
            moveLit(found->second, originOf(pointKey(lit.at)), changed);
        } else if (found->second.lit.on != lit.on) {
            found->second.lit.on = lit.on;
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
    reoutput(changed);
    return finish(changed);
}

tally::status tally_graph::statusOf(int matrix, int destination) const {
    const auto w = watched_.find(destinationKey(matrix, destination));
    if (w != watched_.end()) return w->second.now;
    return held(originOf(destinationKey(matrix, destination)));
}

tally_graph::reason tally_graph::explain(int matrix, int destination) const {
    reason out;
    std::vector<key> chain;
    const key origin = originOf(destinationKey(matrix, destination), &chain);
    for (key k : chain) out.shown.push_back(pointOf(k));
    if (origin == no_picture) return out;
    way best;
    std::vector<key> path;
    out.now = compute(origin, path, &best).now;
    if (out.now == tally::state::off) return out;
    out.way = std::move(best.steps);
    out.feeds = std::move(best.feeds);
    out.endsAt = best.endsAt;
    out.mixers = mixerNames_;
    if (out.way.empty()) return out;
    out.input = out.way.front().input;
    out.index = out.way.front().index;
    chain.clear();
    originOf(pointKey(out.way.front().at), &chain);
    for (key k : chain) out.lit.push_back(pointOf(k));
    return out;
}

namespace {

// An output point in words: "studioA's program".
std::string outputText(const tally::point& p, const std::map<int, std::string>& mixers) {
    const auto name = mixers.find(p.number);
    const tally::buses bus = p.matrix == 1 ? tally::program_bus : p.matrix == 2 ? tally::preview_bus : tally::iso_bus;
    return (name != mixers.end() ? name->second : "mixer " + std::to_string(p.number)) + "'s " + tally::busName(bus);
}

std::string pointText(const tally::point& p, const std::map<int, std::string>& mixers) {
    if (p.kind == tally::point::end::output) return outputText(p, mixers);
    return "router " + std::to_string(p.matrix) +
           (p.kind == tally::point::end::source ? " source " : " destination ") + std::to_string(p.number);
}

// A chain of points in words: each destination's route ("<- source N") and
// each tie line ("<- tie from router M destination D").
std::string chainText(const std::vector<tally::point>& chain, const std::map<int, std::string>& mixers) {
    std::string text;
    for (size_t i = 0; i < chain.size(); ++i) {
        const tally::point& p = chain[i];
        const bool source = p.kind == tally::point::end::source;
        const std::string number = (source ? "source " : "destination ") + std::to_string(p.number);
        if (i == 0)
            text += pointText(p, mixers);
        else if (source)
            text += " <- " + number;
        else
            text += " <- tie from router " + std::to_string(p.matrix) + " " + number;
    }
    return text;
}

}  // namespace

std::string reasonText(const tally_graph::reason& why) {
    if (why.now == tally::state::off) return "";
    std::string text = chainText(why.shown, why.mixers);
    if (!why.way.empty())
        text += "; " + why.input + " index " + std::to_string(why.index) + " lights " + chainText(why.lit, why.mixers);
    // Each level of a cascade: the bus that counts, where its output goes,
    // and the lit index of the next mixer standing for it.
    for (size_t i = 0; i < why.feeds.size() && i < why.way.size(); ++i) {
        const tally_graph::step& from = why.way[i];
        text += "; " + from.input + "'s " + tally::busName(from.bus);
        const bool routed = why.feeds[i].kind != tally::point::end::output;
        if (routed) text += " is " + pointText(why.feeds[i], why.mixers);
        if (i + 1 < why.way.size()) {
            const tally_graph::step& to = why.way[i + 1];
            text += std::string(routed ? ", " : " ") + "on " + tally::busName(to.bus) + " of " + to.input + " index " +
                    std::to_string(to.index);
        }
    }
    if (why.endsAt)
        text += (why.way.empty() ? "; on air at " : ", on air at ") + pointText(*why.endsAt, why.mixers);
    else if (!why.feeds.empty() && why.now == tally::state::program)
        text += ", on air";
    return text;
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
