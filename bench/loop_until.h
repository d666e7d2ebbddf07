// Drives a benchmark's event loop until what it waits for has happened.
#ifndef QUON_BENCH_LOOP_UNTIL_H
#define QUON_BENCH_LOOP_UNTIL_H

#include <boost/asio/io_context.hpp>
#include <chrono>

namespace quon::bench {

// Runs `loop` until `done`, for at most a few seconds; false when it ran
// out. The benchmarks' own, beside the tests' runUntil (tests/support):
// `done` may turn true on another thread (a receiver's) while the loop has
// nothing to do, so the loop never waits more than 100 us for its next
// event, where the tests' waits 10 ms; and the predicate is not wrapped in
// a std::function on a measured path.
template <typename predicate>
bool runUntil(boost::asio::io_context& loop, predicate done) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    loop.restart();
    while (!done()) {
        if (std::chrono::steady_clock::now() > guard) return false;
        loop.run_one_for(std::chrono::microseconds(100));
        if (loop.stopped()) loop.restart();
    }
    return true;
}

}  // namespace quon::bench

#endif
