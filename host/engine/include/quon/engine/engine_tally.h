// engine_tally: what the vision mixers light (tally_graph.h), followed
// through every route the engine learns and the tie lines to the
// components whose first watched destination shows it. Listeners hear of
// each component whose tally changed (host_listener::tallyChanged). A
// point whose route the graph has not yet heard of is asked of its router
// first. Until the first lit index or tie line the graph sleeps: nothing
// can be on air, so a revertive does not feed it; it wakes filled with the
// routes the routers know and the destinations the components watch.
//
// Part of host_engine, which owns it (host_engine::tally()); it reaches the
// components, the routers and the clock through engine_links.h.
//
// Threading: the host's one thread. Ownership: it owns the graph; what it
// hands out (a state, a reason) is a copy.
#ifndef QUON_ENGINE_ENGINE_TALLY_H
#define QUON_ENGINE_ENGINE_TALLY_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quon/engine/engine_links.h"
#include "quon/engine/engine_listeners.h"
#include "quon/engine/tally_graph.h"
#include "quon/tally/tally_types.h"

namespace quon {

class engine_tally final : private tally_link {
public:
    // It puts its link into `links`; both `links` and `listeners` outlive it.
    engine_tally(engine_links& links, const engine_listeners& listeners);

    engine_tally(const engine_tally&) = delete;
    engine_tally& operator=(const engine_tally&) = delete;

    // The lit indices the tally inputs report.
    void setLits(const std::vector<tally::lit>& lits);
    // The tie lines, at start and at each reload.
    void setTies(const std::vector<tally::tie>& ties);
    // The mixers' outputs and where on air ends, at start and at each
    // reload.
    void setCascade(const tally::cascade& cascade);
    // The tally of the picture a component's first watched destination
    // shows; off when it watches none.
    tally::status of(const std::string& component) const;
    // Why; nothing when it watches none.
    std::optional<tally_graph::reason> why(const std::string& component) const;
    // Lit indices reported, by input (each change of one index counts).
    const std::map<std::string, uint64_t>& changes() const { return changes_; }

private:
    // tally_link
    void follow(uint64_t component) override;
    void forget(uint64_t component) override;
    std::vector<tally_graph::place> routed(int router, int destination, int source) override;
    void tell(const std::vector<tally_graph::place>& changed) override;
    void flush() override;
    void resized(int router, int reported) override;
    void replaced(int router) override;

    // The graph's route for a destination, asked of its router when unknown;
    // none past the size the router reports.
    std::vector<tally_graph::place> learnRoute(int router, int destination);
    // Fills the sleeping graph with what the routers and components know.
    void wake();
    // The destination (router, destination) whose picture a component's
    // tally follows (the first it watches), or null.
    const std::pair<int, int>* talliedBy(uint64_t component) const;

    engine_links& links_;
    const engine_listeners& listeners_;
    tally_graph graph_;
    bool awake_ = false;  // a lit index, a tie line or a cascade has been set
    std::map<std::string, uint64_t> changes_;
    // By component sequence: what its tally follows (sequences run from 1
    // without gaps, so a wall's sit in one block).
    std::vector<std::optional<std::pair<int, int>>> tallied_;
    // Changes not yet told: of watched destinations, of components.
    std::vector<tally_graph::place> due_;
    std::vector<uint64_t> dueFor_;
};

}  // namespace quon

#endif
