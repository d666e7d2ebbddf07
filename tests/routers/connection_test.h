// What the tests of a router connection against a fake router on a
// loopback socket share: the loop, the settings of a test, the listener
// that records what it hears, the fake router and the connection.
#ifndef QUON_TESTS_ROUTERS_CONNECTION_TEST_H
#define QUON_TESTS_ROUTERS_CONNECTION_TEST_H

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include <boost/asio/io_context.hpp>

#include "fake_routers.h"
#include "quon/routers/router_client.h"
#include "quon/routers/router_connection.h"
#include "recording_listener.h"
#include "run_until.h"

namespace quon::test {

class ConnectionTest : public testing::Test {
protected:
    ConnectionTest() {
        using namespace std::chrono_literals;
        // Long, so that a test paused by a busy machine is not taken for a
        // silent router; the tests of silence set their own.
        settings.silenceLimit = 10000ms;
        settings.keepAliveWait = 10000ms;
        settings.connectTimeout = 2000ms;
        settings.keepAliveInterval = 50ms;
        settings.backOffFirst = 50ms;
        settings.backOffCap = 200ms;
        settings.jitterSeed = 1;
    }

    // Starts a connection to the fake router that carries `client`; it
    // replaces the one before, if any.
    void connect(std::unique_ptr<routers::router_client> client) {
        settings.port = router->port();
        link = routers::connectOverTcp(io, settings, listener, std::move(client));
        link->start();
    }

    bool waitUntil(const std::function<bool()>& done) { return runUntil(io, done); }
    bool waitUp(std::size_t ups = 1) {
        return waitUntil([&] { return listener.ups.size() >= ups; });
    }

    boost::asio::io_context io;
    routers::router_settings settings;
    fake::recording_listener listener;
    std::unique_ptr<fake::fake_router> router;
    std::unique_ptr<routers::router_connection> link;
};

}  // namespace quon::test

#endif
