// The SW-P-08 link against a fake SW-P-08 router on a loopback socket: the
// size learned from the names or given by the device file, names one to a
// message or in batches, the initial interrogation, tallies pushed,
// connects, extended numbers, and routers that close, go silent, send
// garbage or restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "fake_routers.h"
#include "quon/links/router_link.h"
#include "quon/links/swp08_protocol.h"
#include "recording_listener.h"

using namespace std::chrono_literals;
using quon::fake::recording_listener;
namespace links = quon::links;
namespace sw = quon::links::swp08;

namespace {

std::string framed(const std::vector<std::uint8_t>& data) {
    const std::vector<std::uint8_t> bytes = sw::frame(data);
    return std::string(bytes.begin(), bytes.end());
}

class Swp08Link : public testing::Test {
protected:
    void SetUp() override {
        // Long, so that a test paused by a busy machine is not taken for a
        // silent router, nor a pause between two messages for the end of
        // the names; the tests of silence set their own.
        settings.silenceLimit = 10000ms;
        settings.answerWait = 10000ms;
        startWith(quon::fake::numberedState(20, 6));
    }

    void startWith(quon::fake::router_state state, int namesPerMessage = quon::fake::names_as_many_as_fit) {
        router = quon::fake::makeFakeSwp08(io, std::move(state), 0, namesPerMessage);
        settings.port = router->port();
        settings.connectTimeout = 2000ms;
        settings.keepAliveInterval = 50ms;
        settings.backOffFirst = 50ms;
        settings.backOffCap = 200ms;
        settings.jitterSeed = 1;
        link = links::makeSwp08Link(io, settings, listener);
        link->start();
    }

    bool waitUntil(const std::function<bool()>& done) { return quon::fake::runUntil(io, done); }
    bool waitUp(std::size_t ups = 1) {
        return waitUntil([&] { return listener.ups.size() >= ups; });
    }

    boost::asio::io_context io;
    links::link_settings settings;
    recording_listener listener;
    std::unique_ptr<quon::fake::fake_router> router;
    std::unique_ptr<links::router_link> link;
};

TEST_F(Swp08Link, LearnsTheSizeFromTheNamesAndReadsEveryRoute) {
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(20, 6));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}));
    EXPECT_EQ(listener.labels.size(), 26u);
    EXPECT_EQ(*link->label(links::source_labels, 20), "Input 20");  // cut to 8 characters
    EXPECT_EQ(*link->label(links::destination_labels, 6), "Output 6");
    EXPECT_EQ(link->source(6), 6);
    EXPECT_TRUE(listener.problems.empty());
}

// Routers of other makes send their names one to a message, in batches of
// any size, or not at all. With the device file's sizes the link reads every
// destination whatever the names said, at connect and after a reconnect.
struct names_case {
    const char* name;
    int perMessage;
    int nameLength;
};

void PrintTo(const names_case& c, std::ostream* out) { *out << c.name; }

class Swp08LinkNames : public Swp08Link, public testing::WithParamInterface<names_case> {};

TEST_P(Swp08LinkNames, EveryDestinationOfTheDeviceFileIsReadAtConnectAndAfterAReconnect) {
    link.reset();
    settings.sources = 40;
    settings.destinations = 40;
    settings.nameLength = GetParam().nameLength;
    settings.answerWait = 500ms;
    startWith(quon::fake::numberedState(40, 40), GetParam().perMessage);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(40, 40));
    std::set<int> read;
    for (const auto& [destination, source] : listener.crosspoints) read.insert(destination);
    EXPECT_EQ(read.size(), 40u);
    const std::size_t length = static_cast<std::size_t>(GetParam().nameLength);
    if (GetParam().perMessage == quon::fake::names_never_answered) {
        EXPECT_EQ(link->label(links::source_labels, 1), nullptr);
        EXPECT_THAT(listener.problems,
                    testing::Contains("the router named 0 of the 40 sources the device file gives (DatabaseSize_0)"));
        EXPECT_THAT(listener.problems, testing::Contains("the router named 0 of the 40 destinations the device file "
                                                         "gives (DatabaseSize_1)"));
    } else {
        ASSERT_NE(link->label(links::source_labels, 40), nullptr);
        EXPECT_EQ(*link->label(links::source_labels, 40), std::string("Input 40").substr(0, length));
        ASSERT_NE(link->label(links::destination_labels, 40), nullptr);
        EXPECT_EQ(*link->label(links::destination_labels, 40), std::string("Output 40").substr(0, length));
    }

    // A route taken while the link is down shows once it is back.
    router->setSilent(true);
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    router->route(37, 5);
    router->setSilent(false);
    ASSERT_TRUE(waitUntil([&] { return listener.ups.size() >= 2 && link->source(37) == 5; }));
    EXPECT_TRUE(listener.sawCrosspoint(37, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Routers, Swp08LinkNames,
    testing::Values(names_case{"OneToAMessage", 1, 8}, names_case{"ThreeToAMessage", 3, 8},
                    names_case{"SixteenToAMessage", 16, 8}, names_case{"ThirtyTwoToAMessage", 32, 4},
                    names_case{"NoNames", quon::fake::names_never_answered, 8}),
    [](const testing::TestParamInfo<names_case>& info) { return std::string(info.param.name); });

TEST_F(Swp08Link, NamesOfAFullLastMessageEndWithTheEmptyOne) {
    link.reset();
    startWith(quon::fake::numberedState(32, 16));  // two and one full messages of 8-character names
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(32, 16));
    EXPECT_EQ(listener.crosspoints.size(), 16u);
}

TEST_F(Swp08Link, ReportsAnOperatorRoute) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->route(3, 17);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(3, 17); }));
    EXPECT_EQ(link->source(3), 17);
}

TEST_F(Swp08Link, AConnectChangesTheStateWhenTheRouterReportsIt) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    ASSERT_TRUE(link->requestRoute(5, 12));
    EXPECT_EQ(link->source(5), 5);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(5, 12); }));
    EXPECT_EQ(link->source(5), 12);
    EXPECT_EQ(router->state().routes[4], 12);
    EXPECT_FALSE(link->requestRoute(7, 1));   // past the destinations named
    EXPECT_FALSE(link->requestRoute(1, 21));  // past the sources named
}

TEST_F(Swp08Link, PollInterrogatesTheDestinationsAsked) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    link->poll(2, 4);
    ASSERT_TRUE(waitUntil([&] { return listener.crosspoints.size() >= 3; }));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{2, 2}, {3, 3}, {4, 4}}));
}

TEST_F(Swp08Link, UsesTheExtendedFormsPast1024) {
    link.reset();
    startWith(quon::fake::numberedState(1100, 1030));
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(1100, 1030));
    EXPECT_EQ(link->source(1030), 1030);
    EXPECT_EQ(listener.crosspoints.size(), 1030u);
    listener.clearEvents();
    ASSERT_TRUE(link->requestRoute(1027, 1099));
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(1027, 1099); }));
    ASSERT_TRUE(link->requestRoute(3, 1050));
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(3, 1050); }));
    EXPECT_EQ(router->state().routes[1026], 1099);
    EXPECT_EQ(router->state().routes[2], 1050);
}

TEST_F(Swp08Link, ARouterThatClosesIsReconnectedAndReread) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_EQ(listener.downs[0].first, "the router closed the connection");
    ASSERT_TRUE(waitUp(2));
    EXPECT_EQ(listener.crosspoints.size(), 6u);
    EXPECT_TRUE(listener.labels.empty());
}

TEST_F(Swp08Link, ASilentRouterIsFoundByTheKeepAlive) {
    link.reset();
    settings.silenceLimit = 400ms;
    startWith(quon::fake::numberedState(20, 6));
    ASSERT_TRUE(waitUp());
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_EQ(listener.downs[0].first, "nothing received for 400 ms");
    router->setSilent(false);
    ASSERT_TRUE(waitUp(2));
}

// A router that answers nothing at all at connect (not even the frames'
// acknowledgements) is not up, with no size and no names: it is retried, and
// read whole once it answers.
TEST_F(Swp08Link, ARouterSilentAtConnectIsRetriedNotTakenAsEmpty) {
    link.reset();
    settings.answerWait = 300ms;
    settings.silenceLimit = 30000ms;
    startWith(quon::fake::numberedState(20, 6));
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_TRUE(listener.ups.empty());
    EXPECT_EQ(listener.downs[0].first, "no answer to the names requests");
    router->setSilent(false);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups.back(), std::make_pair(20, 6));
    EXPECT_EQ(*link->label(links::source_labels, 3), "Input 3");
}

TEST_F(Swp08Link, ChangesTheRouterNeverPushedAreFoundByTheResync) {
    link.reset();
    settings.resyncInterval = 100ms;
    startWith(quon::fake::numberedState(20, 6));
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    // Names are never pushed; a route taken during a short hang is lost.
    router->setLabel(0, 3, "CAM 3");
    router->setSilent(true);
    router->route(4, 6);
    router->setSilent(false);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(4, 6) && !listener.labels.empty(); }));
    EXPECT_EQ(listener.labels, (std::vector<recording_listener::label_call>{{links::source_labels, 3, "CAM 3"}}));
    EXPECT_EQ(link->source(4), 6);
    EXPECT_TRUE(listener.downs.empty());
}

TEST_F(Swp08Link, GarbageIsReportedOnceAndTheLinkCarriesOn) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    std::string garbage = "hello";
    garbage += std::string("\x10\x02\x03\x00\x00\x01\x02\x05\x00\x10\x03", 11);  // bad checksum
    garbage += framed({0x03, 0x00, 0x00, 0x01});                                 // malformed tally
    garbage += framed({0x7E, 0x01});                                             // unknown command
    garbage += framed({0x6A, 0x00, 0x01, 0x00, 0x00, 0x01, 'B', 'A', 'D', 0x01, 0xFF, ' ', ' ', ' '});  // name
    for (int i = 0; i < 3; ++i) router->sendGarbage(garbage);
    router->route(1, 9);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(1, 9); }));
    EXPECT_TRUE(link->up());
    EXPECT_TRUE(listener.downs.empty());
    std::vector<std::string> problems = listener.problems;
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "a malformed crosspoint message",
                            "a message with a wrong checksum",
                            "an unknown command 0x7E (further unknown commands are not reported)",
                            "bytes outside any message",
                            "source 1's name \"BAD\\x01\\xFF\" has control characters or bytes that are not UTF-8; "
                            "shown as \"BAD?\xC3\xBF\"",
                        }));
    EXPECT_EQ(*link->label(links::source_labels, 1), "BAD?\xC3\xBF");
}

TEST_F(Swp08Link, AFloodOfGarbageDropsTheConnectionAndItRecovers) {
    ASSERT_TRUE(waitUp());
    router->sendGarbage(std::string(40000, 'x'));
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_NE(listener.downs[0].first.find("no valid message"), std::string::npos) << listener.downs[0].first;
    ASSERT_TRUE(waitUp(2));
}

TEST_F(Swp08Link, ARestartedRouterIsReadAfresh) {
    ASSERT_TRUE(waitUp());
    quon::fake::router_state changed = quon::fake::numberedState(20, 6);
    changed.routes = {20, 19, 18, 17, 16, 15};
    changed.inputLabels[0] = "CAM 1";
    listener.clearEvents();
    router->restart(changed);
    ASSERT_TRUE(waitUp(2));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{1, 20}, {2, 19}, {3, 18}, {4, 17}, {5, 16}, {6, 15}}));
    EXPECT_EQ(listener.labels, (std::vector<recording_listener::label_call>{{links::source_labels, 1, "CAM 1"}}));
}

TEST_F(Swp08Link, KeepAliveAnswersAreNotReportedAsRoutes) {
    link.reset();
    settings.silenceLimit = 2000ms;
    startWith(quon::fake::numberedState(20, 6));
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    // Keep-alives every 50 ms: 60 answered take past the silence limit.
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() >= answered + 60; }));
    EXPECT_TRUE(link->up());
    EXPECT_TRUE(listener.crosspoints.empty());
    EXPECT_TRUE(listener.downs.empty());
    router->route(1, 4);  // a real change of destination 1 still is
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(1, 4); }));
}

TEST_F(Swp08Link, OtherLevelsAreNotReported) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->sendGarbage(framed(sw::tallyMessage({0, 1}, 0, 4, true)) + framed(sw::tallyMessage({1, 0}, 0, 4, true)));
    router->route(2, 3);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(2, 3); }));
    EXPECT_FALSE(listener.sawCrosspoint(1, 5));
    EXPECT_TRUE(listener.problems.empty());
}

}  // namespace
