// The NMOS client on real connections to the fake registry on a loopback
// socket: what it decides is in test_nmos_client.cpp; here, that the read
// (pages of 3), the reopened connection's WebSocket and its grains of
// several changes reach the listener: a receiver taking no sender, a
// connection change, one made inactive, one removed, a sender relabelled
// on the second connection's WebSocket; its drop, and a restart.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection_test.h"
#include "quon/routers/nmos/nmos_client.h"

using namespace std::chrono_literals;
namespace routers = quon::routers;

namespace {

class NmosConnection : public quon::test::ConnectionTest {};

TEST_F(NmosConnection, ReadsThenFollowsTheRegistrysGrains) {
    quon::fake::router_state state = quon::fake::numberedState(8, 5);
    state.routes[2] = 0;  // receiver 3 takes no sender
    auto registry = quon::fake::makeFakeNmos(io, state);
    quon::fake::fake_nmos_registry& nmos = *registry;
    router = std::move(registry);
    routers::nmos::nmos_options options;
    options.sendersListed = options.receiversListed = true;
    for (int n = 1; n <= 8; ++n) options.senders.push_back("Input " + std::to_string(n));
    for (int n = 1; n <= 5; ++n) options.receivers.push_back("Output " + std::to_string(n));
    settings.port = router->port();  // the client names it in Host:
    connect(std::make_unique<routers::nmos::nmos_client>(settings, options));
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(8, 5));
    EXPECT_EQ(link->source(1), 1);
    EXPECT_EQ(link->source(3), 0);
    EXPECT_EQ(*link->label(routers::destination_labels, 5), "Output 5");
    EXPECT_TRUE(listener.problems.empty()) << listener.problems.front();

    // Each pushed on the WebSocket once it is open.
    ASSERT_TRUE(waitUntil([&] {
        router->route(1, 6);
        return link->source(1) == 6;
    }));
    nmos.deactivate(2);
    ASSERT_TRUE(waitUntil([&] { return link->source(2) == 0; }));
    nmos.remove(4);
    ASSERT_TRUE(waitUntil([&] { return link->source(4) == 0; }));
    router->setLabel(1, 5, "MON 5");
    ASSERT_TRUE(waitUntil([&] { return *link->label(routers::destination_labels, 5) == "MON 5"; }));
    router->setLabel(0, 3, "CAM 3");
    ASSERT_TRUE(waitUntil([&] { return *link->label(routers::source_labels, 3) == "CAM 3"; }));
    const int pongs = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > pongs; }));
    EXPECT_TRUE(listener.downs.empty());

    // The second connection dropped: the router's failure, retried.
    nmos.dropSendersSockets();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    EXPECT_EQ(listener.downs[0].first, "the router closed the connection (second connection, to 127.0.0.1:" +
                                           std::to_string(router->port()) + ")");
    ASSERT_TRUE(waitUntil([&] { return listener.ups.size() == 2; }));
    const int again = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > again; })) << "following again";
    listener.downs.clear();
    listener.problems.clear();

    // A restart: clients dropped, the subscription forgotten.
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    router->route(5, 2);
    ASSERT_TRUE(waitUntil([&] { return link->source(5) == 2; }));
    EXPECT_EQ(link->source(1), 6);
    EXPECT_EQ(listener.problems, (std::vector<std::string>{"Receivers= names 'Output 4' (destination 4), which the "
                                                           "registry does not hold: it shows no source"}));
}

}  // namespace
