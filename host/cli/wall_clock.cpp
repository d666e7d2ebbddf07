#include "wall_clock.h"

namespace quon {

wall_clock_driver::wall_clock_driver(boost::asio::io_context& loop, host_engine& engine, std::function<void()> after,
                                     std::function<void(const std::string&)> problem)
    : engine_(engine),
      timer_(loop),
      start_(std::chrono::steady_clock::now() - std::chrono::milliseconds(engine.now())),
      after_(std::move(after)),
      problem_(std::move(problem)) {
    engine_.followClock([start = start_] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    });
}

wall_clock_driver::~wall_clock_driver() { engine_.followClock(nullptr); }

void wall_clock_driver::catchUp() {
    if (stopped_) return;
    const auto elapsed = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count());
    std::string error;
    if (elapsed > engine_.now() && !engine_.advance(elapsed - engine_.now(), error)) problem_(error);
    if (after_) after_();
    arm();
}

void wall_clock_driver::stop() {
    stopped_ = true;
    timer_.cancel();
}

void wall_clock_driver::arm() {
    const std::optional<uint64_t> due = engine_.nextDue();
    if (!due) {
        timer_.cancel();
        return;
    }
    timer_.expires_at(start_ + std::chrono::milliseconds(*due));
    timer_.async_wait([this](boost::system::error_code error) {
        if (!error && !stopped_) catchUp();
    });
}

}  // namespace quon
