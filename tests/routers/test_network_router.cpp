// A router on the network as the engine sees it: a poll made while the
// link reads the router at connect, before the link is up, is answered once
// the link is up, from the read (serve makes a wall's displays while its
// routers connect; before, such a display waited for its component to poll
// again); a poll while up is answered at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_routers.h"
#include "quon/engine/host_engine.h"
#include "quon/routers/built_in_routers.h"
#include "quon/routers/network_routers.h"
#include "temp_system.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

namespace {

// Runs the loop a handler at a time until `done`; false after 20 s.
bool runUntil(boost::asio::io_context& loop, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        loop.run_one_for(50ms);
    }
    return true;
}

// An engine on a fake SW-P-08 router of six sources and six destinations;
// `device` is its device file's keys after the address.
struct engine_on_fake_router {
    explicit engine_on_fake_router(const std::string& device)
        : router(quon::fake::makeFakeSwp08(loop, quon::fake::numberedState(6, 6))),
          routers(quon::builtInRouters()),
          engine(describe(device), routers) {
        engine.routers().start();
    }
    ~engine_on_fake_router() {
        engine.components().destroyAll();
        engine.routers().stop();
    }

    quon::system_description describe(const std::string& device) {
        system.writeDevice(1, "[Router]\nProtocol=swp08\nAddress=127.0.0.1:" + std::to_string(router->port()) +
                                  "\n" + device);
        system.writeFile("instances.ini", "[Instances]\n");
        quon::addNetworkRouters(routers, loop);
        return quon::readSystem(system.folder());
    }

    boost::asio::io_context loop;
    std::unique_ptr<quon::fake::fake_router> router;
    temp_system system;
    quon::router_registry routers;
    quon::host_engine engine;
};

TEST(NetworkRouter, APollMadeWhileTheLinkReadsIsAnsweredAtUp) {
    // Eight destinations: the link waits AnswerWait for the two the router
    // does not have before it goes up, with the other six read.
    engine_on_fake_router f("AnswerWait=300\n[Database]\nDatabaseSize_0=6\nDatabaseSize_1=8\n");
    quon::host_engine& engine = f.engine;
    boost::asio::io_context& loop = f.loop;
    ASSERT_TRUE(runUntil(loop, [&] { return f.router->connectionsAccepted() == 1; }));
    // The loop has not run since: the link is still reading, and what it
    // read is not seen before the read is whole.
    ASSERT_NE(engine.routers().status(1)->state, quon::router_state::connected);
    EXPECT_EQ(engine.routers().crosspoint(1, 1), 0);

    std::string error;
    ASSERT_EQ(engine.components().create("p", PROBE_MODULE_PATH, "", error),
              quon::engine_components::create_status::created)
        << error;
    std::optional<std::string> reply;
    const auto received = [&] {
        std::optional<std::string> text;
        engine.components().parent("p", "log", text, error);
        return text.value_or("");
    };
    // A poll alone: a component watching the destination would also hear
    // the read's route as every watcher does.
    ASSERT_TRUE(engine.components().parent("p", "send:RP 1 1 1", reply, error)) << error;
    EXPECT_EQ(received(), "");
    // The engine's clock does not move here: no timer of the component
    // could poll again.
    std::string log;
    EXPECT_TRUE(runUntil(loop, [&] {
        log += received();
        return !log.empty();
    }));
    EXPECT_EQ(engine.routers().status(1)->state, quon::router_state::connected);
    EXPECT_EQ(log, "revertive 1 1 1\n");
}

TEST(NetworkRouter, APollWhileUpIsAnsweredAtOnceFromWhatTheLinkRead) {
    engine_on_fake_router f("[Database]\nDatabaseSize_0=6\nDatabaseSize_1=6\n");
    quon::host_engine& engine = f.engine;
    ASSERT_TRUE(runUntil(f.loop, [&] { return engine.routers().status(1)->state == quon::router_state::connected; }));

    std::string error;
    ASSERT_EQ(engine.components().create("p", PROBE_MODULE_PATH, "", error),
              quon::engine_components::create_status::created)
        << error;
    std::optional<std::string> reply, log;
    ASSERT_TRUE(engine.components().parent("p", "send:RR 1 2 3", reply, error)) << error;
    ASSERT_TRUE(engine.components().parent("p", "send:RP 1 2 3", reply, error)) << error;
    // The loop has not run: nothing went to the router and back.
    ASSERT_TRUE(engine.components().parent("p", "log", log, error)) << error;
    EXPECT_EQ(log.value_or(""), "revertive 1 2 2\nrevertive 1 3 3\n");
}

}  // namespace
