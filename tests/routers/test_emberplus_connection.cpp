// An Ember+ connection against the fake Ember+ provider on a loopback socket:
// what only Ember+ does on a real socket. What the client decides (reply
// shapes, merges, labels, broken frames) is in test_emberplus_client.cpp;
// what every protocol's link does alike (the walk by identifiers and the
// read, routes, renames, providers that close, restart, go silent, stay
// idle or flood) in test_every_protocol.cpp. Here: the matrix found by
// numbers or as the first, providers of other makes that drop requests, and
// one that closes idle connections.
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

}  // namespace
