// The Quartz client on a real connection to the fake Quartz router on a
// loopback socket: what it decides is in test_quartz_client.cpp; what every
// protocol's link does alike, with names numbered, in
// test_every_protocol.cpp. Here, a router whose names come without their
// numbers (older firmware), read with its answers cut anywhere: a route it
// asks for, an operator's route pushed with another level's, a rename seen
// at the resync, the keep-alive, and a drop and a reconnect.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "connection_test.h"
#include "quon/routers/quartz/quartz_client.h"

using namespace std::chrono_literals;
namespace routers = quon::routers;

namespace {

class QuartzConnection : public quon::test::ConnectionTest {
protected:
    void SetUp() override {
        settings.sources = 8;
        settings.destinations = 4;
        // Long, so that a pause between two answers is not taken for the
        // end of the read.
        options.answerWait = 10000ms;
        // A router that names without numbers pushes no rename: it is seen
        // at the next resync.
        settings.resyncInterval = 300ms;
        router = quon::fake::makeFakeQuartz(io, quon::fake::numberedState(8, 4), 0, quon::fake::quartz_names::unnumbered);
        connect(std::make_unique<routers::quartz_client>(settings, options));
    }

    routers::quartz_options options;
};

TEST_F(QuartzConnection, ARouterNamingWithoutNumbersIsReadFollowedAndAskedAsAnyIs) {
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(8, 4));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(listener.labels.size(), 12u);
    EXPECT_EQ(*link->label(routers::source_labels, 8), "Input 8");  // padding gone
    EXPECT_EQ(*link->label(routers::destination_labels, 4), "Output 4");
    EXPECT_TRUE(listener.problems.empty()) << listener.problems.front();

    listener.clearEvents();
    ASSERT_TRUE(link->requestRoute(2, 7));
    ASSERT_TRUE(waitUntil([&] { return link->source(2) == 7; }));
    router->route(3, 5);  // with level B's update in the same packet
    ASSERT_TRUE(waitUntil([&] { return link->source(3) == 5; }));
    router->setLabel(0, 5, "CAMERA FIVE, WIDE");
    ASSERT_TRUE(waitUntil([&] {
        return link->label(routers::source_labels, 5) && *link->label(routers::source_labels, 5) == "CAMERA FIVE, WIDE";
    }));
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > answered + 1; }));
    EXPECT_TRUE(listener.problems.empty()) << listener.problems.front();

    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    router->route(1, 6);
    ASSERT_TRUE(waitUp(2));
    EXPECT_EQ(link->source(1), 6);
    EXPECT_EQ(link->source(3), 5);
}

}  // namespace
