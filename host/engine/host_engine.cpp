// The engine as one object: its parts made and wired, the teardown, and
// the host clock.
#include "quon/engine/host_engine.h"

#include <algorithm>

#include "quon_message_types.h"

namespace quon {

host_engine::host_engine(const system_description& system, const router_registry& registry,
                         const module_loaders& loaders)
    : links_{this},
      listeners_(links_),
      tally_(links_, listeners_),
      components_(system.instances, loaders, links_, listeners_),
      routers_(system, registry, links_, listeners_) {}

host_engine::~host_engine() {
    // The listeners may already be gone: whoever wants the teardown told
    // destroys the components first.
    listeners_.clear();
    components_.destroyAll();
    routers_.stop();
}

bool host_engine::advance(uint64_t milliseconds, std::string& error) {
    const uint64_t target = now_ + milliseconds;
    const uint64_t ticks = timers_.ticksUntil(target, max_ticks_per_step);
    if (ticks > max_ticks_per_step) {
        // ticksUntil stops counting past the limit, so the count is a floor.
        error = "the step would deliver more than " + std::to_string(max_ticks_per_step) +
                " timer ticks (at most " + std::to_string(max_ticks_per_step) + " a step); take shorter steps";
        return false;
    }
    component_link& components = *links_.components;
    while (const auto tick = timers_.popDue(target)) {
        now_ = tick->due;
        components.enqueue(pending_message::carrying(tick->owner, QUON_MSG_TIMER, tick->id));
        components.drain();
    }
    now_ = target;
    return true;
}

uint64_t host_engine::stamp() const {
    // Between events the host's clock stands still; a live host's records
    // are dated by the wall clock it follows.
    return clock_ ? std::max(now_, clock_()) : now_;
}

void host_engine::catchUp() {
    // Only between calls: timers are never delivered into a component
    // that is calling the host.
    if (!clock_ || links_.components->inCall()) return;
    const uint64_t target = clock_();
    if (target <= now_) return;
    std::string error;
    if (!advance(target - now_, error)) {
        // A live host that fell that far behind skips the ticks it missed.
        listeners_.warn("", error + "; the clock jumps ahead");
        timers_.restartAll(target);
        now_ = target;
    }
}

}  // namespace quon
