#include "run_until.h"

bool runUntil(boost::asio::io_context& io, const std::function<bool()>& done, std::chrono::milliseconds guard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    // A loop that ran out of work earlier (an earlier wait, a poll) is
    // stopped; it would return at once without this.
    io.restart();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        io.run_one_for(std::chrono::milliseconds(10));
        if (io.stopped()) io.restart();
    }
    return true;
}
