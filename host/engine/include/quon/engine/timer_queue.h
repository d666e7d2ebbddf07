// timer_queue: the components' timers, by when each is next due.
//
// A timer belongs to an owner (a component's creation sequence) and has an
// id of the owner's choosing; it repeats at its interval until stopped.
// Timers due at the same time fire by owner, then by id: with owners
// numbered in creation order, older components hear first, so a run is the
// same every time.
#ifndef QUON_ENGINE_TIMER_QUEUE_H
#define QUON_ENGINE_TIMER_QUEUE_H

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

namespace quon {

class timer_queue {
public:
    struct tick {
        uint64_t due;
        uint64_t owner;
        int id;
    };

    // Starts timer `id` of `owner` anew, due `interval` milliseconds
    // (positive) after `now`; a running one of the same id is replaced.
    void start(uint64_t owner, int id, int interval, uint64_t now);
    void stop(uint64_t owner, int id);
    void stopAll(uint64_t owner);

    // When the next timer is due, if any is running.
    std::optional<uint64_t> nextDue() const;
    // How many ticks fall due up to `target` (inclusive), counting each
    // repeat; the count stops once it passes `limit`, so a count over
    // `limit` is only a floor.
    uint64_t ticksUntil(uint64_t target, uint64_t limit) const;
    // The first tick due up to `target`, if any; its timer is due again
    // one interval after it. Ticks a caller's handling of this one starts
    // or stops are seen by the next call.
    std::optional<tick> popDue(uint64_t target);
    // The clock jumped to `now` past ticks that will never be delivered:
    // every timer is due one interval after `now`.
    void restartAll(uint64_t now);

private:
    struct timer {
        int interval;
        uint64_t due;
    };
    std::set<std::tuple<uint64_t, uint64_t, int>> queue_;  // due, owner, id
    std::map<uint64_t, std::map<int, timer>> timers_;      // owner -> id -> timer
};

}  // namespace quon

#endif
