// retry_backoff: the waits between attempts to reach a peer (a router, a
// TSL screen). Each wait doubles, from `first` up to `cap`, and is drawn
// uniformly from its upper half so that many hosts that lost one peer do not
// return in step. Pure; the seed makes the draws repeatable.
#ifndef QUON_TCP_RETRY_BACKOFF_H
#define QUON_TCP_RETRY_BACKOFF_H

#include <chrono>
#include <cstdint>
#include <random>

namespace quon::tcp {

class retry_backoff {
public:
    retry_backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap, std::uint32_t seed);
    // The wait before the next attempt; within (ceiling / 2, ceiling], where
    // the ceiling is first * 2^failures, at most cap (and at least 1 ms).
    std::chrono::milliseconds next();
    // After a success: the next wait is drawn from the first range again.
    void reset() { failures_ = 0; }

private:
    std::chrono::milliseconds first_;
    std::chrono::milliseconds cap_;
    int failures_ = 0;
    std::mt19937 random_;
};

}  // namespace quon::tcp

#endif
