// The NMOS client on real connections to the fake registry on a loopback
// socket: what it decides is in test_nmos_client.cpp; here, that what a
// registry in use does on the wire (fake_routers.h) reaches the listener as
// it should: the read in pages of 3, the WebSockets on their own port and
// their grains, paged too; a receiver taking no sender, connection changes,
// one made inactive, one removed, relabels; the second connection's drop;
// a registry restart whose node registers late, the node's expiry and its
// restart.
#include <gtest/gtest.h>

#include <memory>
#include <set>
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
    auto registry = quon::fake::makeFakeNmos(io, state, 0, 3);
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

    // Each pushed on the WebSockets once they are open.
    ASSERT_TRUE(waitUntil([&] {
        router->route(1, 6);
        return link->source(1) == 6;
    }));
    // The same sender activated again changes only the version.
    const std::size_t reported = listener.crosspoints.size();
    router->route(1, 6);
    router->route(5, 8);
    ASSERT_TRUE(waitUntil([&] { return link->source(5) == 8; }));
    EXPECT_EQ(listener.crosspoints.size(), reported + 1);
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
                                           std::to_string(nmos.webSocketPort()) + ")");
    ASSERT_TRUE(waitUntil([&] { return listener.ups.size() == 2; }));
    const int again = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > again; })) << "following again";
    listener.downs.clear();
    listener.problems.clear();

    // Every connection dropped: the registry kept the subscriptions, and
    // answers the link's identical ones with them.
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    router->route(5, 2);
    ASSERT_TRUE(waitUntil([&] { return link->source(5) == 2; }));
    EXPECT_EQ(link->source(1), 6);
    EXPECT_EQ(nmos.subscriptions(), 2);
    EXPECT_EQ(listener.problems, (std::vector<std::string>{"Receivers= names 'Output 4' (destination 4), which the "
                                                           "registry does not hold: it shows no source"}));
}

// Numbered as met (no Senders= or Receivers=), 12 senders and 11 receivers:
// more than a grain holds. Every route the listener hears is one the
// registry held at some moment, or none.
TEST_F(NmosConnection, EveryRouteShownAgainAfterARegistryRestartWithItsNodeLateAndNoneAfterTheNodesExpiryOrRestart) {
    quon::fake::router_state state = quon::fake::numberedState(12, 11);
    // Labels in the order of their numbers: numbered as met, in label order,
    // sender n is source n.
    for (int n = 1; n <= 12; ++n) state.inputLabels[n - 1] = (n < 10 ? "Input 0" : "Input ") + std::to_string(n);
    for (int n = 1; n <= 11; ++n) state.outputLabels[n - 1] = (n < 10 ? "Output 0" : "Output ") + std::to_string(n);
    std::vector<std::set<int>> held(12);  // by destination: the sources it was routed from
    for (int d = 1; d <= 11; ++d) held[d].insert(state.routes[d - 1]);
    auto registry = quon::fake::makeFakeNmos(io, state, 0, 3);
    quon::fake::fake_nmos_registry& nmos = *registry;
    router = std::move(registry);
    const auto route = [&](int d, int s) {
        held[d].insert(s);
        router->route(d, s);
    };
    const auto showsEvery = [&](const std::vector<int>& routes) {
        for (int d = 1; d <= 11; ++d)
            if (link->source(d) != routes[d - 1]) return false;
        return true;
    };

    // Its WebSockets asked of the REST port, which answers a GET.
    nmos.advertiseWebSocketsAt(nmos.port());
    connect(std::make_unique<routers::nmos::nmos_client>(settings, routers::nmos::nmos_options{}));
    ASSERT_TRUE(waitUntil([&] { return !listener.downs.empty(); }));
    const std::string refused = listener.downs[0].first;
    EXPECT_EQ(refused.rfind("the registry answered 200 OK to the WebSocket opening of ws://127.0.0.1:" +
                                std::to_string(nmos.port()) + "/x-nmos/query/v1.3/subscriptions/",
                            0),
              0u)
        << refused;
    EXPECT_NE(refused.find("not 101 Switching Protocols"), std::string::npos) << refused;
    // Never up, so retried with a back-off that grows: a link that reads
    // the registry and fails its WebSocket is not tried ever faster.
    ASSERT_TRUE(waitUntil([&] { return listener.downs.size() >= 3; }));
    EXPECT_TRUE(listener.ups.empty());
    EXPECT_GT(listener.downs[2].second, settings.backOffFirst);
    for (const auto& [why, retryIn] : listener.downs) EXPECT_EQ(why.substr(0, 40), refused.substr(0, 40));
    nmos.advertiseWebSocketsAt(nmos.webSocketPort());
    router->restart(state);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(12, 11));
    EXPECT_TRUE(showsEvery(state.routes));
    EXPECT_EQ(*link->label(routers::source_labels, 12), "Input 12");

    // Back empty at once; the node's resources come as additions later.
    route(1, 12);
    route(2, 11);
    state.routes[0] = 12;
    state.routes[1] = 11;
    ASSERT_TRUE(waitUntil([&] { return showsEvery(state.routes); }));
    const std::size_t downs = listener.downs.size();
    nmos.restartRegistry();
    ASSERT_TRUE(waitUntil([&] { return listener.downs.size() > downs; }));
    ASSERT_TRUE(waitUntil([&] { return listener.ups.size() >= 2 && showsEvery(state.routes); }));
    route(3, 9);
    state.routes[2] = 9;
    ASSERT_TRUE(waitUntil([&] { return showsEvery(state.routes); })) << "following after the restart";

    const std::vector<int> none(11, 0);
    nmos.restartNode();
    ASSERT_TRUE(waitUntil([&] { return showsEvery(none); }));
    route(2, 5);
    ASSERT_TRUE(waitUntil([&] { return link->source(2) == 5; }));
    nmos.expireNode();
    ASSERT_TRUE(waitUntil([&] { return showsEvery(none); }));

    for (const auto& [d, s] : listener.crosspoints)
        EXPECT_TRUE(s == 0 || held.at(static_cast<std::size_t>(d)).count(s)) << "destination " << d << " shown from " << s;
    EXPECT_TRUE(listener.problems.empty()) << listener.problems.front();
}

}  // namespace
