// Drives a test's io_context until what the test waits for has happened.
#ifndef QUON_TEST_RUN_UNTIL_H
#define QUON_TEST_RUN_UNTIL_H

#include <chrono>
#include <functional>

#include <boost/asio/io_context.hpp>

// Runs `io` until `done` holds or `guard` passes; returns whether `done`
// holds. The guard only keeps a broken test from hanging: no test may
// depend on how long anything takes.
bool runUntil(boost::asio::io_context& io, const std::function<bool()>& done,
              std::chrono::milliseconds guard = std::chrono::seconds(20));

#endif
