// Moves the engine's clock with the wall clock: the engine follows it
// before every call, and a timer on the event loop waits for the next host
// timer that is due, so nothing polls.
#ifndef QUON_CLI_WALL_CLOCK_H
#define QUON_CLI_WALL_CLOCK_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <string>

#include "quon/engine/host_engine.h"

namespace quon {

class wall_clock_driver {
public:
    // `engine` and `loop` outlive the driver. `after` runs after every move
    // of the clock (to show what changed); `problem` hears of a step the
    // engine refused.
    wall_clock_driver(boost::asio::io_context& loop, host_engine& engine, std::function<void()> after,
                      std::function<void(const std::string&)> problem);
    ~wall_clock_driver();
    wall_clock_driver(const wall_clock_driver&) = delete;
    wall_clock_driver& operator=(const wall_clock_driver&) = delete;

    // Moves the engine's clock to now, then waits for the next due timer.
    // Call after anything that may have started or stopped a host timer.
    void catchUp();
    void stop();

private:
    void arm();

    host_engine& engine_;
    boost::asio::steady_timer timer_;
    std::chrono::steady_clock::time_point start_;
    std::function<void()> after_;
    std::function<void(const std::string&)> problem_;
    bool stopped_ = false;
};

}  // namespace quon

#endif
