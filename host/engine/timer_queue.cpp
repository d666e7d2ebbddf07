#include "quon/engine/timer_queue.h"

namespace quon {

void timer_queue::start(uint64_t owner, int id, int interval, uint64_t now) {
    stop(owner, id);
    const uint64_t due = now + static_cast<uint64_t>(interval);
    timers_[owner][id] = {interval, due};
    queue_.emplace(due, owner, id);
}

void timer_queue::stop(uint64_t owner, int id) {
    const auto ownTimers = timers_.find(owner);
    if (ownTimers == timers_.end()) return;
    const auto t = ownTimers->second.find(id);
    if (t == ownTimers->second.end()) return;
    queue_.erase(std::make_tuple(t->second.due, owner, id));
    ownTimers->second.erase(t);
    if (ownTimers->second.empty()) timers_.erase(ownTimers);
}

void timer_queue::stopAll(uint64_t owner) {
    const auto ownTimers = timers_.find(owner);
    if (ownTimers == timers_.end()) return;
    for (const auto& [id, t] : ownTimers->second) queue_.erase(std::make_tuple(t.due, owner, id));
    timers_.erase(ownTimers);
}

std::optional<uint64_t> timer_queue::nextDue() const {
    if (queue_.empty()) return std::nullopt;
    return std::get<0>(*queue_.begin());
}

uint64_t timer_queue::ticksUntil(uint64_t target, uint64_t limit) const {
    // Only the timers due by then, in due order: a wall of many displays
    // whose retry timers run calls this for every step of its clock.
    uint64_t ticks = 0;
    for (auto next = queue_.begin(); next != queue_.end() && std::get<0>(*next) <= target; ++next) {
        const auto [due, owner, id] = *next;
        const timer& t = timers_.at(owner).at(id);
        ticks += 1 + (target - due) / static_cast<uint64_t>(t.interval);
        if (ticks > limit) return ticks;
    }
    return ticks;
}

std::optional<timer_queue::tick> timer_queue::popDue(uint64_t target) {
    if (queue_.empty() || std::get<0>(*queue_.begin()) > target) return std::nullopt;
    const auto [due, owner, id] = *queue_.begin();
    queue_.erase(queue_.begin());
    timer& t = timers_.at(owner).at(id);
    t.due = due + static_cast<uint64_t>(t.interval);
    queue_.emplace(t.due, owner, id);
    return tick{due, owner, id};
}

void timer_queue::restartAll(uint64_t now) {
    queue_.clear();
    for (auto& [owner, ownTimers] : timers_)
        for (auto& [id, t] : ownTimers) {
            t.due = now + static_cast<uint64_t>(t.interval);
            queue_.emplace(t.due, owner, id);
        }
}

}  // namespace quon
