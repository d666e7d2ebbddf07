// The state of a receiver's link, as the log, the page, /metrics and
// docs/umd.md ("Receiver states") name it: one table, read by all of them
// (tests/test_docs.cpp checks the docs against it). Constants; any thread.
#ifndef QUON_SCREENS_RECEIVER_STATE_H
#define QUON_SCREENS_RECEIVER_STATE_H

#include <array>
#include <cstddef>

namespace quon {

enum class umd_receiver_state { idle, resolving, unresolved, sending, connecting, connected, refused, lost, standby };

struct umd_receiver_state_name {
    umd_receiver_state state;
    const char* name;
    // A link in this state is up: a failure before it is over.
    bool up;
};

// Every state, in the order the docs list them.
inline constexpr std::array<umd_receiver_state_name, 9> umd_receiver_states{{
    {umd_receiver_state::idle, "idle", false},
    {umd_receiver_state::resolving, "resolving", false},
    {umd_receiver_state::unresolved, "unresolved", false},
    {umd_receiver_state::sending, "sending", true},
    {umd_receiver_state::connecting, "connecting", false},
    {umd_receiver_state::connected, "connected", true},
    {umd_receiver_state::refused, "refused", false},
    {umd_receiver_state::lost, "lost", false},
    // Sending nothing on purpose is no failure.
    {umd_receiver_state::standby, "standby", true},
}};

constexpr bool umdReceiverStatesInOrder() {
    for (size_t i = 0; i < umd_receiver_states.size(); ++i)
        if (static_cast<size_t>(umd_receiver_states[i].state) != i) return false;
    return true;
}
static_assert(umdReceiverStatesInOrder(), "umd_receiver_states lists the states in their enum's order");

constexpr const char* umdReceiverStateName(umd_receiver_state state) {
    return umd_receiver_states[static_cast<size_t>(state)].name;
}
constexpr bool umdReceiverStateUp(umd_receiver_state state) {
    return umd_receiver_states[static_cast<size_t>(state)].up;
}

}  // namespace quon

#endif
