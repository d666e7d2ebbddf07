// host_engine: the host side of the two-way interface, as one object. It
// owns the engine's parts and wires them (engine_links.h):
//   - components(): the components and their messages (engine_components.h);
//   - routers(): the routers and what they push (engine_routers.h);
//   - tally(): what the vision mixers light, followed to the components
//     (engine_tally.h);
// and itself keeps the listeners, told of everything any part does, and
// the host clock, on which the components' timers run.
//
// Threading: every call into a component and every call into the engine
// happens on the host's one thread, one at a time.
//
// Delivery discipline: the engine never calls into a component while any
// component is inside a call into the host. Messages caused by a command
// or a router (the revertives after "RP", for example) are queued
// (delivery_queue.h) and delivered, in order, once the call that caused
// them has returned.
//
// Ownership: it owns the parts, which live as long as it does, the list of
// listeners (not the listeners) and the clock.
#ifndef QUON_ENGINE_HOST_ENGINE_H
#define QUON_ENGINE_HOST_ENGINE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "quon/engine/engine_components.h"
#include "quon/engine/engine_links.h"
#include "quon/engine/engine_listeners.h"
#include "quon/engine/engine_routers.h"
#include "quon/engine/engine_tally.h"
#include "quon/engine/host_listener.h"
#include "quon/engine/module_cache.h"
#include "quon/engine/router_backend.h"
#include "quon/engine/system_files.h"
#include "quon/engine/timer_queue.h"

namespace quon {

// Not copyable: its parts are not.
class host_engine final : private clock_link {
public:
    // Most timer ticks one advance() may deliver; a longer step is refused.
    static constexpr uint64_t max_ticks_per_step = 1000000;

    // The routers of `system` through `registry` (used only here), the
    // components' modules through `loaders` (see the parts' constructors).
    host_engine(const system_description& system, const router_registry& registry, const module_loaders& loaders = {});
    // Destroys the remaining components, in the order they were created,
    // without telling the listeners, then stops the routers.
    ~host_engine();

    // `listener` is told of everything until removed; it must outlive that.
    void addListener(host_listener* listener) { listeners_.add(listener); }
    void removeListener(host_listener* listener) { listeners_.remove(listener); }

    // The parts, owned by the engine, living as long as it does.
    engine_components& components() { return components_; }
    engine_routers& routers() { return routers_; }
    engine_tally& tally() { return tally_; }

    // The host clock, in milliseconds; timers fire as it moves. False, and
    // nothing done, when the step would deliver more than
    // max_ticks_per_step ticks; `error` says how many.
    bool advance(uint64_t milliseconds, std::string& error);
    uint64_t now() const { return now_; }
    // A live host's clock: before the engine acts on any call or router
    // event, its clock (and the timers due on the way) catches up with
    // `clock`, in milliseconds. Without one, time moves only by advance().
    void followClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }
    // When the next timer is due, if any is running.
    std::optional<uint64_t> nextDue() const { return timers_.nextDue(); }

private:
    // clock_link
    void catchUp() override;
    uint64_t time() const override { return now_; }
    uint64_t stamp() const override;
    timer_queue& timers() override { return timers_; }

    // Declared in the order they are made: the links first, every part
    // putting its own in; the components before the routers, whose
    // constructor gives the watches each router's size.
    engine_links links_;
    engine_listeners listeners_;
    timer_queue timers_;  // owners are component sequences
    uint64_t now_ = 0;
    std::function<uint64_t()> clock_;
    engine_tally tally_;
    engine_components components_;
    engine_routers routers_;
};

}  // namespace quon

#endif
