// How a router is reached and whether it answers, as its backend says, with
// the words the log, the page and docs/serve.md use for each state and the
// one rule of whether the router is up, which serve's status, /metrics,
// the page, /healthz and the UMD output's lost-router treatment all read
// (tests/test_docs.cpp checks the docs against the table). Constants; any
// thread.
#ifndef QUON_ENGINE_ROUTER_STATE_H
#define QUON_ENGINE_ROUTER_STATE_H

#include <array>
#include <cstddef>

namespace quon {

enum class router_state { answering, not_answering, connecting, connected, lost };

struct router_state_name {
    router_state state;
    const char* name;
    // The router is up: its displays are told routes. A simulated router
    // answers; a network router's link is connected.
    bool up;
};

inline constexpr std::array<router_state_name, 5> router_states{{
    {router_state::answering, "answers", true},
    {router_state::not_answering, "does not answer", false},
    {router_state::connecting, "connecting", false},
    {router_state::connected, "connected", true},
    {router_state::lost, "lost", false},
}};

constexpr bool routerStatesInOrder() {
    for (size_t i = 0; i < router_states.size(); ++i)
        if (static_cast<size_t>(router_states[i].state) != i) return false;
    return true;
}
static_assert(routerStatesInOrder(), "router_states lists the states in their enum's order");

constexpr const char* routerStateName(router_state state) { return router_states[static_cast<size_t>(state)].name; }
constexpr bool routerUp(router_state state) { return router_states[static_cast<size_t>(state)].up; }

}  // namespace quon

#endif
