// The engine's tally: the lit indices of the vision mixers and the tie
// lines, followed through every route the engine learns (tally_graph.h) to
// the components whose first watched destination shows them.
#include <algorithm>

#include "engine_slots.h"
#include "quon/engine/host_engine.h"

namespace quon {

std::vector<tally_graph::place> host_engine::learnRoute(int device, int destination) {
    if (tally_.route(device, destination) != 0) return {};
    const router_slot* r = router(device);
    if (!r || !reports(device, destination)) return {};
    const int source = r->backend->crosspoint(destination);
    return source > 0 ? tally_.setRoute(device, destination, source) : std::vector<tally_graph::place>{};
}

void host_engine::fitTally(const router_slot& r, int device) {
    if (!tallyAwake_) return;
    std::vector<tally_graph::place> changed;
    const auto add = [&changed](const std::vector<tally_graph::place>& more) {
        changed.insert(changed.end(), more.begin(), more.end());
    };
    // A link holds what it read of the destinations before; the router
    // that came back smaller has none of them.
    if (r.reported > 0)
        for (int destination : tally_.routedDestinations(device))
            if (destination > r.reported) add(tally_.setRoute(device, destination, 0));
    watchers_.forEachWatchedDestination(device, [&](int destination) { add(learnRoute(device, destination)); });
    tellTally(changed);
}

void host_engine::retally(slot& s) {
    const std::optional<std::pair<int, int>> now = watchers_.firstWatch(s.seq);
    if (now == s.tallied) return;
    if (!tallyAwake_) {  // nothing lit: off before and after
        s.tallied = now;
        return;
    }
    const tally::state before = s.tallied ? tally_.stateOf(s.tallied->first, s.tallied->second) : tally::state::off;
    if (s.tallied) tally_.unwatch(s.tallied->first, s.tallied->second);
    s.tallied = now;
    std::vector<tally_graph::place> changed;
    if (now) {
        tally_.watch(now->first, now->second);
        changed = learnRoute(now->first, now->second);
    }
    const tally::state after = now ? tally_.stateOf(now->first, now->second) : tally::state::off;
    if (after != before) tallyDueFor_.push_back(s.seq);
    tellTally(changed);
}

void host_engine::tellTally(const std::vector<tally_graph::place>& changed) {
    tallyDue_.insert(tallyDue_.end(), changed.begin(), changed.end());
    drain();
}

void host_engine::flushTally() {
    if (callDepth_ > 0) return;
    const std::vector<uint64_t> components = std::move(tallyDueFor_);
    const std::vector<tally_graph::place> places = std::move(tallyDue_);
    tallyDueFor_.clear();
    tallyDue_.clear();
    // Why a lit picture is lit goes with the change: a listener that shows
    // it has it without asking.
    const auto why = [this](int device, int destination, tally::state now) {
        return now == tally::state::off ? std::nullopt
                                        : std::optional<tally_graph::reason>(tally_.explain(device, destination));
    };
    const auto tell = [this](const std::string& name, tally::state now, const std::optional<tally_graph::reason>& reason) {
        for (host_listener* l : listeners_) l->tallyChanged(name, now, reason ? &*reason : nullptr);
    };
    for (uint64_t seq : components)
        if (const slot* s = bySequence(seq)) {
            const tally::state now = s->tallied ? tally_.stateOf(s->tallied->first, s->tallied->second) : tally::state::off;
            tell(s->name, now, s->tallied ? why(s->tallied->first, s->tallied->second, now) : std::nullopt);
        }
    for (const auto& [device, destination] : places) {
        const tally::state now = tally_.stateOf(device, destination);
        const std::optional<tally_graph::reason> reason = why(device, destination, now);
        watchers_.forEachWatcher(device, destination, [&, device = device, destination = destination](uint64_t seq) {
            const slot* s = bySequence(seq);
            if (!s || s->tallied != std::make_pair(device, destination)) return;
            tell(s->name, now, reason);
        });
    }
}

void host_engine::wakeTally() {
    if (tallyAwake_) return;
    tallyAwake_ = true;
    // Nothing is lit yet, so none of this changes a state to tell.
    for (const auto& [device, r] : routers_) {
        const int destinations = r->reported > 0 ? std::min(r->reported, r->backend->destinations())
                                                 : r->backend->destinations();
        for (int destination = 1; destination <= destinations; ++destination)
            if (const int source = r->backend->crosspoint(destination); source > 0)
                tally_.setRoute(device, destination, source);
    }
    for (const std::unique_ptr<slot>& s : bySequence_)
        if (s && s->tallied) tally_.watch(s->tallied->first, s->tallied->second);
}

void host_engine::setTally(const std::vector<tally::lit>& lits) {
    catchUpClock();
    for (const tally::lit& lit : lits) ++tallyChanges_[lit.input];
    if (std::all_of(lits.begin(), lits.end(), [](const tally::lit& lit) { return lit.now == tally::state::off; }) &&
        !tallyAwake_)
        return;  // putting out what was never lit
    wakeTally();
    std::vector<tally_graph::place> changed;
    for (const tally::lit& lit : lits) {
        if (lit.at.kind == tally::point::end::destination) {
            const auto learnt = learnRoute(lit.at.matrix, lit.at.number);
            changed.insert(changed.end(), learnt.begin(), learnt.end());
        }
    }
    const auto lit = tally_.setLits(lits);
    changed.insert(changed.end(), lit.begin(), lit.end());
    tellTally(changed);
}

void host_engine::setTies(const std::vector<tally::tie>& ties) {
    catchUpClock();
    if (ties.empty() && !tallyAwake_) return;  // none held, none set
    wakeTally();
    std::vector<tally_graph::place> changed;
    for (const tally::tie& t : ties) {
        const auto learnt = learnRoute(t.fromMatrix, t.fromDestination);
        changed.insert(changed.end(), learnt.begin(), learnt.end());
    }
    const auto tied = tally_.setTies(ties);
    changed.insert(changed.end(), tied.begin(), tied.end());
    tellTally(changed);
}

tally::state host_engine::tallyOf(const std::string& name) const {
    const slot* s = find(name);
    return s && s->tallied ? tally_.stateOf(s->tallied->first, s->tallied->second) : tally::state::off;
}

std::optional<tally_graph::reason> host_engine::tallyWhy(const std::string& name) const {
    const slot* s = find(name);
    if (!s || !s->tallied) return std::nullopt;
    if (tallyAwake_) return tally_.explain(s->tallied->first, s->tallied->second);
    // Asleep: off, the destination's chain its route alone (no tie lines).
    const auto [device, destination] = *s->tallied;
    tally_graph::reason why;
    why.shown.push_back({device, tally::point::end::destination, destination});
    if (const router_slot* r = router(device))
        if (const int source = r->backend->crosspoint(destination); source > 0)
            why.shown.push_back({device, tally::point::end::source, source});
    return why;
}

}  // namespace quon
