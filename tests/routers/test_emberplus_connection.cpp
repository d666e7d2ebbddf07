// An Ember+ connection against the fake Ember+ provider on a loopback socket:
// the client on its TCP connection, end to end. What the client decides
// (reply shapes, merges, labels, broken frames) is in
// test_emberplus_client.cpp; here, that it reaches a real socket and the
// listener: the walk and the reading of a provider that answers each
// request in another shape, in packets, operator routes and renames, a
// route from this side, and providers that close, go silent, restart,
// flood or stay idle.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "connection_test.h"
#include "quon/routers/emberplus/emberplus_client.h"

using namespace std::chrono_literals;
using quon::fake::recording_listener;
namespace routers = quon::routers;

namespace {

class EmberplusConnection : public quon::test::ConnectionTest {
protected:
    void SetUp() override {
        // Long, so that a pause between two answers is not taken for their
        // end.
        options.answerWait = 10000ms;
        settings.connectTimeout = 10000ms;
        matrix("router/matrices/video");
        startWith(quon::fake::numberedState(20, 6));
    }

    void matrix(const std::string& path) {
        std::string why;
        ASSERT_TRUE(routers::parseMatrixPath(path, options.matrix, why)) << why;
    }

    void startWith(quon::fake::router_state state, std::chrono::milliseconds idleClose = 0ms,
                   quon::fake::emberplus_requests requests = quon::fake::emberplus_requests::all) {
        router = quon::fake::makeFakeEmberplus(io, std::move(state), 0, 100, idleClose, requests);
        connect(client());
    }

    std::unique_ptr<routers::router_client> client() {
        return std::make_unique<routers::emberplus_client>(settings, options);
    }

    routers::emberplus_options options;
};

TEST_F(EmberplusConnection, WalksToTheMatrixAndReadsEveryRouteAndLabel) {
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(20, 6));
    std::vector<std::pair<int, int>> routes = listener.crosspoints;
    std::sort(routes.begin(), routes.end());
    EXPECT_EQ(routes, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}}));
    EXPECT_EQ(listener.labels.size(), 26u);
    EXPECT_EQ(*link->label(routers::source_labels, 20), "Input 20");
    EXPECT_EQ(*link->label(routers::destination_labels, 6), "Output 6");
    EXPECT_TRUE(listener.problems.empty()) << listener.problems.front();
}

TEST_F(EmberplusConnection, FindsTheMatrixByNumbersOrAsTheFirst) {
    for (const char* matrix : {"0.1.0", ""}) {
        link.reset();
        listener = recording_listener();
        this->matrix(matrix);
        connect(client());
        ASSERT_TRUE(waitUp()) << matrix;
        EXPECT_EQ(link->source(6), 6) << matrix;
        EXPECT_EQ(*link->label(routers::source_labels, 1), "Input 1") << matrix;
    }
}

TEST_F(EmberplusConnection, FollowsOperatorRoutesAndRenames) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->route(3, 17);
    router->setLabel(0, 17, "CAM 17");
    router->setLabel(1, 3, "PGM");
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(3, 17) && listener.labels.size() >= 2; }));
    EXPECT_EQ(link->source(3), 17);
    EXPECT_EQ(*link->label(routers::source_labels, 17), "CAM 17");
    EXPECT_EQ(*link->label(routers::destination_labels, 3), "PGM");
}

// Providers of other makes: one that acts on a message's first request
// only reads as any; one that never answers for labels is up with numbers,
// says so, stays connected and still follows renames.
TEST_F(EmberplusConnection, ProvidersThatDropRequestsLeaveTheLinkUpWithEveryName) {
    link.reset();
    startWith(quon::fake::numberedState(20, 6), 0ms, quon::fake::emberplus_requests::first_only);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(*link->label(routers::source_labels, 20), "Input 20");
    EXPECT_TRUE(listener.missingTexts.empty()) << listener.missingTexts.front();

    link.reset();
    listener = recording_listener();
    // Nothing can come late here: the labels never come at all.
    options.answerWait = 100ms;
    startWith(quon::fake::numberedState(20, 6), 0ms, quon::fake::emberplus_requests::labels_never);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(*link->label(routers::source_labels, 20), "20");
    EXPECT_EQ(*link->label(routers::destination_labels, 6), "6");
    // (A busy machine may make other answers late too: only these are sure.)
    for (const char* said : {"the targets' labels (path 0.2.1) did not come; showing numbers",
                             "the sources' labels (path 0.2.2) did not come; showing numbers"})
        EXPECT_NE(std::find(listener.missingTexts.begin(), listener.missingTexts.end(), said),
                  listener.missingTexts.end())
            << said;
    router->setLabel(0, 17, "CAM 17");
    ASSERT_TRUE(waitUntil([&] { return link->label(routers::source_labels, 17) &&
                                       *link->label(routers::source_labels, 17) == "CAM 17"; }));
    EXPECT_TRUE(listener.downs.empty());
}

TEST_F(EmberplusConnection, ARouteChangesTheStateWhenTheProviderReportsIt) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    ASSERT_TRUE(link->requestRoute(5, 12));
    EXPECT_EQ(link->source(5), 5);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(5, 12); }));
    EXPECT_EQ(router->state().routes[4], 12);
    EXPECT_FALSE(link->requestRoute(7, 1));   // past the targets
    EXPECT_FALSE(link->requestRoute(1, 21));  // past the sources
}

TEST_F(EmberplusConnection, AProviderThatClosesIsReconnectedAndReread) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_EQ(listener.downs[0].first, "the router closed the connection");
    ASSERT_TRUE(waitUp(2));
    EXPECT_EQ(listener.crosspoints.size(), 6u);
    EXPECT_TRUE(listener.labels.empty()) << "labels unchanged are not reported again";
}

TEST_F(EmberplusConnection, ARestartedProviderIsReadAgainWithItsNewState) {
    ASSERT_TRUE(waitUp());
    quon::fake::router_state changed = quon::fake::numberedState(20, 6);
    changed.routes[0] = 9;
    changed.inputLabels[8] = "NEW 9";
    router->restart(changed);
    ASSERT_TRUE(waitUp(2));
    EXPECT_EQ(link->source(1), 9);
    EXPECT_EQ(*link->label(routers::source_labels, 9), "NEW 9");
}

TEST_F(EmberplusConnection, ASilentProviderIsFoundByTheKeepAlive) {
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

// The provider sends nothing unasked and never asks itself: the link's
// keep-alives are what keeps an idle connection heard, past the silence
// limit many times over.
TEST_F(EmberplusConnection, AnIdleProviderIsKeptByTheKeepAlive) {
    link.reset();
    settings.silenceLimit = 2000ms;
    startWith(quon::fake::numberedState(20, 6));
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() >= answered + 60; }));
    EXPECT_TRUE(link->up());
    EXPECT_TRUE(listener.downs.empty());
    EXPECT_TRUE(listener.crosspoints.empty());
}

// A provider may close a connection it has heard nothing from for a while
// (one in use does after about 30 s) and never ask itself: the link's
// keep-alives keep it open; without them the provider closes it.
TEST_F(EmberplusConnection, AProviderThatClosesIdleConnectionsIsKeptOpenByTheKeepAlive) {
    link.reset();
    startWith(quon::fake::numberedState(20, 6), 2000ms);
    ASSERT_TRUE(waitUp());
    const int answered = router->keepAlivesAnswered();
    // 60 keep-alives every 50 ms take past the provider's limit.
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() >= answered + 60; }));
    EXPECT_TRUE(listener.downs.empty()) << listener.downs.front().first;
    EXPECT_EQ(router->connectionsAccepted(), 1);

    link.reset();
    settings.keepAliveInterval = 60000ms;
    link = routers::connectOverTcp(io, settings, listener, client());
    link->start();
    ASSERT_TRUE(waitUp(2));
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_EQ(listener.downs[0].first, "the router closed the connection");
}

TEST_F(EmberplusConnection, ChangesTheProviderNeverPushedAreFoundByTheResync) {
    link.reset();
    settings.resyncInterval = 100ms;
    startWith(quon::fake::numberedState(20, 6));
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    router->setSilent(true);
    router->route(4, 6);
    router->setLabel(0, 3, "CAM 3");
    router->setSilent(false);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(4, 6) && !listener.labels.empty(); }));
    EXPECT_EQ(listener.labels, (std::vector<recording_listener::label_call>{{routers::source_labels, 3, "CAM 3"}}));
    EXPECT_TRUE(listener.downs.empty());
}

TEST_F(EmberplusConnection, AFloodOfGarbageDropsTheConnectionAndItRecovers) {
    ASSERT_TRUE(waitUp());
    router->sendGarbage(std::string(40000, 'x'));
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_NE(listener.downs[0].first.find("no valid S101 frame"), std::string::npos) << listener.downs[0].first;
    ASSERT_TRUE(waitUp(2));
}

}  // namespace
