// An SW-P-08 connection against a fake SW-P-08 router on a loopback socket:
// what only SW-P-08 does on a real socket. What the client decides (names
// in batches, the sizes, extended forms, other levels, garbage) is in
// test_swp08_client.cpp; what every protocol's link does alike (routes
// asked for and pushed, routers that close, go silent, stay idle or flood)
// in test_every_protocol.cpp. Here: the size learnt from the names, every
// destination of the device file read, and a router silent at connect.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "connection_test.h"
#include "quon/routers/swp08/swp08_client.h"

using namespace std::chrono_literals;
namespace routers = quon::routers;

namespace {

class Swp08Connection : public quon::test::ConnectionTest {
protected:
    void SetUp() override {
        // Long, so that a pause between two messages is not taken for the
        // end of the names.
        options.answerWait = 10000ms;
        startWith(quon::fake::numberedState(20, 6));
    }

    void startWith(quon::fake::router_state state, int namesPerMessage = quon::fake::names_as_many_as_fit) {
        router = quon::fake::makeFakeSwp08(io, std::move(state), 0, namesPerMessage);
        connect(std::make_unique<routers::swp08_client>(settings, options));
    }

    routers::swp08_options options;
};

TEST_F(Swp08Connection, LearnsTheSizeFromTheNamesAndReadsEveryRoute) {
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(20, 6));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}));
    EXPECT_EQ(listener.labels.size(), 26u);
    EXPECT_EQ(*link->label(routers::source_labels, 20), "Input 20");  // cut to 8 characters
    EXPECT_EQ(*link->label(routers::destination_labels, 6), "Output 6");
    EXPECT_EQ(link->source(6), 6);
    EXPECT_TRUE(listener.problems.empty());
}

// With the device file's sizes and names in batches of 3, every destination
// is read at connect and again after a reconnect, which shows a route taken
// while the link was down.
TEST_F(Swp08Connection, EveryDestinationOfTheDeviceFileIsReadAtConnectAndAfterAReconnect) {
    link.reset();
    settings.sources = 40;
    settings.destinations = 40;
    options.answerWait = 500ms;
    startWith(quon::fake::numberedState(40, 40), 3);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(40, 40));
    std::set<int> read;
    for (const auto& [destination, source] : listener.crosspoints) read.insert(destination);
    EXPECT_EQ(read.size(), 40u);
    ASSERT_NE(link->label(routers::source_labels, 40), nullptr);
    EXPECT_EQ(*link->label(routers::source_labels, 40), "Input 40");

    router->setSilent(true);
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    router->route(37, 5);
    router->setSilent(false);
    ASSERT_TRUE(waitUntil([&] { return listener.ups.size() >= 2 && link->source(37) == 5; }));
    EXPECT_TRUE(listener.sawCrosspoint(37, 5));
}

// A router that answers nothing at all at connect (not even the frames'
// acknowledgements) is not up, with no size and no names: it is retried, and
// read whole once it answers.
TEST_F(Swp08Connection, ARouterSilentAtConnectIsRetriedNotTakenAsEmpty) {
    link.reset();
    options.answerWait = 300ms;
    settings.silenceLimit = 30000ms;
    startWith(quon::fake::numberedState(20, 6));
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_TRUE(listener.ups.empty());
    EXPECT_EQ(listener.downs[0].first, "no answer to the names requests");
    router->setSilent(false);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups.back(), std::make_pair(20, 6));
    EXPECT_EQ(*link->label(routers::source_labels, 3), "Input 3");
}

}  // namespace
