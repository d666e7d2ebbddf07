// The tally: the lit indices of the vision mixers and the tie lines,
// followed through every route the engine learns (tally_graph.h) to the
// components whose first watched destination shows them.
#include "quon/engine/engine_tally.h"

#include <algorithm>

namespace quon {

engine_tally::engine_tally(engine_links& links, const engine_listeners& listeners)
    : links_(links), listeners_(listeners) {
    links_.tally = this;
}

const std::pair<int, int>* engine_tally::talliedBy(uint64_t component) const {
    return component < tallied_.size() && tallied_[component] ? &*tallied_[component] : nullptr;
}

std::vector<tally_graph::place> engine_tally::learnRoute(int router, int destination) {
    if (graph_.route(router, destination) != 0) return {};
    if (!links_.routers->reports(router, destination)) return {};
    const int source = links_.routers->routeAt(router, destination);
    return source > 0 ? graph_.setRoute(router, destination, source) : std::vector<tally_graph::place>{};
}

std::vector<tally_graph::place> engine_tally::routed(int router, int destination, int source) {
    // A sleeping graph learns the route from the router when it wakes.
    if (!awake_ || !links_.routers->reports(router, destination)) return {};
    return graph_.setRoute(router, destination, source);
}

void engine_tally::resized(int router, int reported) {
    if (!awake_) return;
    std::vector<tally_graph::place> changed;
    const auto add = [&changed](const std::vector<tally_graph::place>& more) {
        changed.insert(changed.end(), more.begin(), more.end());
    };
    // A link holds what it read of the destinations before; the router
    // that came back smaller has none of them.
    if (reported > 0)
        for (int destination : graph_.routedDestinations(router))
            if (destination > reported) add(graph_.setRoute(router, destination, 0));
    links_.components->watchers().forEachWatchedDestination(
        router, [&](int destination) { add(learnRoute(router, destination)); });
    tell(changed);
}

void engine_tally::replaced(int router) {
    if (!awake_) return;
    std::vector<tally_graph::place> lit;
    for (int destination : graph_.routedDestinations(router))
        if (const int source = links_.routers->routeAt(router, destination); source > 0) {
            const auto changed = graph_.setRoute(router, destination, source);
            lit.insert(lit.end(), changed.begin(), changed.end());
        }
    tell(lit);
}

void engine_tally::follow(uint64_t component) {
    const std::optional<std::pair<int, int>> now = links_.components->watchers().firstWatch(component);
    if (tallied_.size() <= component) tallied_.resize(component + 1);
    std::optional<std::pair<int, int>>& tallied = tallied_[component];
    if (now == tallied) return;
    if (!awake_) {  // nothing lit: off before and after
        tallied = now;
        return;
    }
    const tally::status before = tallied ? graph_.statusOf(tallied->first, tallied->second) : tally::status{};
    if (tallied) graph_.unwatch(tallied->first, tallied->second);
    tallied = now;
    std::vector<tally_graph::place> changed;
    if (now) {
        graph_.watch(now->first, now->second);
        changed = learnRoute(now->first, now->second);
    }
    const tally::status after = now ? graph_.statusOf(now->first, now->second) : tally::status{};
    if (after != before) dueFor_.push_back(component);
    tell(changed);
}

void engine_tally::forget(uint64_t component) {
    if (component >= tallied_.size() || !tallied_[component]) return;
    if (awake_) graph_.unwatch(tallied_[component]->first, tallied_[component]->second);
    tallied_[component].reset();
}

void engine_tally::tell(const std::vector<tally_graph::place>& changed) {
    due_.insert(due_.end(), changed.begin(), changed.end());
    links_.components->drain();
}

void engine_tally::flush() {
    if (links_.components->inCall()) return;
    const std::vector<uint64_t> components = std::move(dueFor_);
    const std::vector<tally_graph::place> places = std::move(due_);
    dueFor_.clear();
    due_.clear();
    // Why a lit picture is lit goes with the change: a listener that shows
    // it has it without asking.
    const auto reasonFor = [this](int router, int destination, tally::status now) {
        return !now.lit() ? std::nullopt : std::optional<tally_graph::reason>(graph_.explain(router, destination));
    };
    const auto hear = [this](const std::string& name, tally::status now,
                             const std::optional<tally_graph::reason>& reason) {
        for (host_listener* l : listeners_) l->tallyChanged(name, now, reason ? &*reason : nullptr);
    };
    const component_link& parts = *links_.components;
    for (uint64_t seq : components)
        if (const std::string* name = parts.nameOf(seq)) {
            const std::pair<int, int>* tallied = talliedBy(seq);
            const tally::status now = tallied ? graph_.statusOf(tallied->first, tallied->second) : tally::status{};
            hear(*name, now, tallied ? reasonFor(tallied->first, tallied->second, now) : std::nullopt);
        }
    for (const auto& [router, destination] : places) {
        const tally::status now = graph_.statusOf(router, destination);
        const std::optional<tally_graph::reason> reason = reasonFor(router, destination, now);
        parts.watchers().forEachWatcher(router, destination,
                                        [&, router = router, destination = destination](uint64_t seq) {
                                            const std::string* name = parts.nameOf(seq);
                                            const std::pair<int, int>* tallied = talliedBy(seq);
                                            if (!name || !tallied || *tallied != std::make_pair(router, destination))
                                                return;
                                            hear(*name, now, reason);
                                        });
    }
}

void engine_tally::wake() {
    if (awake_) return;
    awake_ = true;
    // Nothing is lit yet, so none of this changes a state to tell.
    const router_link& routers = *links_.routers;
    for (int router : routers.numbers()) {
        const int destinations = routers.reportedDestinations(router);
        for (int destination = 1; destination <= destinations; ++destination)
            if (const int source = routers.routeAt(router, destination); source > 0)
                graph_.setRoute(router, destination, source);
    }
    for (const std::optional<std::pair<int, int>>& tallied : tallied_)
        if (tallied) graph_.watch(tallied->first, tallied->second);
}

void engine_tally::setLits(const std::vector<tally::lit>& lits) {
    links_.clock->catchUp();
    for (const tally::lit& lit : lits) ++changes_[lit.input];
    if (std::all_of(lits.begin(), lits.end(), [](const tally::lit& lit) { return lit.on == 0; }) &&
        !awake_)
        return;  // putting out what was never lit
    wake();
    std::vector<tally_graph::place> changed;
    for (const tally::lit& lit : lits) {
        if (lit.at.kind == tally::point::end::destination) {
            const auto learnt = learnRoute(lit.at.matrix, lit.at.number);
            changed.insert(changed.end(), learnt.begin(), learnt.end());
        }
    }
    const auto lit = graph_.setLits(lits);
    changed.insert(changed.end(), lit.begin(), lit.end());
    tell(changed);
}

void engine_tally::setTies(const std::vector<tally::tie>& ties) {
    links_.clock->catchUp();
    if (ties.empty() && !awake_) return;  // none held, none set
    wake();
    std::vector<tally_graph::place> changed;
    for (const tally::tie& t : ties) {
        const auto learnt = learnRoute(t.fromMatrix, t.fromDestination);
        changed.insert(changed.end(), learnt.begin(), learnt.end());
    }
    const auto tied = graph_.setTies(ties);
    changed.insert(changed.end(), tied.begin(), tied.end());
    tell(changed);
}

void engine_tally::setCascade(const tally::cascade& cascade) {
    links_.clock->catchUp();
    if (cascade == tally::cascade{} && !awake_) return;  // none held, none set
    wake();
    std::vector<tally_graph::place> changed;
    for (const tally::point& p : cascade.end.destinations) {
        const auto learnt = learnRoute(p.matrix, p.number);
        changed.insert(changed.end(), learnt.begin(), learnt.end());
    }
    const auto moved = graph_.setCascade(cascade);
    changed.insert(changed.end(), moved.begin(), moved.end());
    tell(changed);
}

tally::status engine_tally::of(const std::string& component) const {
    const std::pair<int, int>* tallied = talliedBy(links_.components->sequenceOf(component));
    return tallied ? graph_.statusOf(tallied->first, tallied->second) : tally::status{};
}

std::optional<tally_graph::reason> engine_tally::why(const std::string& component) const {
    const std::pair<int, int>* tallied = talliedBy(links_.components->sequenceOf(component));
    if (!tallied) return std::nullopt;
    if (awake_) return graph_.explain(tallied->first, tallied->second);
    // Asleep: off, the destination's chain its route alone (no tie lines).
    const auto [router, destination] = *tallied;
    tally_graph::reason why;
    why.shown.push_back({router, tally::point::end::destination, destination});
    if (const int source = links_.routers->routeAt(router, destination); source > 0)
        why.shown.push_back({router, tally::point::end::source, source});
    return why;
}

}  // namespace quon
