// What every router protocol does alike, each protocol against its fake
// router on a loopback socket, its link made as its device file says: the
// link on its TCP connection, end to end. What only one protocol does is in
// that protocol's own connection test.
//
// A read of a router's whole state is one moment. While
// the link was away (a reconnect) or the router lost its pushes (a resync),
// destination 17 moved from input 10 to input 16, input 10 was renamed
// "CLEAN 57" and input 16 "CAM 16". Each router sends the names before the
// routes, as real ones do. At every call the listener hears, what a display
// on destination 17 would show (the name of the source the link holds for
// it) must have been true at some moment: "Input 10" or "CAM 16", never the
// new name of the old source or the old name of the new one.
//
// A router that hangs with its connection open is lost at the keep-alive it
// does not answer, long before the silence limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connection_test.h"
#include "nmos_registry_text.h"
#include "router_device.h"
#include "quon/routers/network_routers.h"
#include "quon/routers/router_keys.h"

using namespace std::chrono_literals;
using label_call = quon::fake::recording_listener::label_call;
namespace routers = quon::routers;
namespace fake = quon::fake;

namespace {

constexpr int size = 20;
constexpr int watched = 17;

fake::router_state before() {
    fake::router_state state = fake::numberedState(size, size);
    state.routes[watched - 1] = 10;
    return state;
}

// What the router holds once the changes are made, in an order that makes
// no other name true on the way.
void change(fake::fake_router& router) {
    router.setLabel(routers::source_labels, 16, "CAM 16");
    router.route(watched, 16);
    router.setLabel(routers::source_labels, 10, "CLEAN 57");
}

struct judging_listener final : fake::recording_listener {
    void judge() {
        if (!link) return;
        const std::optional<int> source = link->source(watched);
        if (!source || *source == 0) return;
        const std::string* name = link->label(routers::source_labels, *source);
        const std::string shown = name ? *name : "(no name)";
        if (shown != "Input 10" && shown != "CAM 16") neverTrue.push_back(shown);
    }
    void routerUp(int sources, int destinations) override {
        recording_listener::routerUp(sources, destinations);
        judge();
    }
    void crosspoint(int destination, int source, bool changed) override {
        recording_listener::crosspoint(destination, source, changed);
        judge();
    }
    void label(int database, int index, const std::string& text) override {
        recording_listener::label(database, index, text);
        judge();
    }

    routers::router_connection* link = nullptr;  // borrowed; set once the link is made
    std::vector<std::string> neverTrue;
};

struct protocol_case {
    const char* protocol;
    std::function<std::unique_ptr<fake::fake_router>(boost::asio::io_context&, fake::router_state)> makeRouter;
    std::vector<std::pair<std::string, std::string>> keys;  // besides Address, in the device file's order
    // SW-P-08 routers push no rename: it is seen at the next read of the names.
    bool pushesRenames = true;
    // Where a flood of garbage drops the connection, the words that say why;
    // null where the link carries on (the protocol's own test).
    const char* garbageDrops = nullptr;
};

std::string listOf(std::string (*id)(int)) {
    std::string list;
    for (int n = 1; n <= size; ++n) list += (n > 1 ? "," : "") + id(n);
    return list;
}

// Long answer waits, so that a pause between two answers on a busy machine
// is not taken for their end.
std::vector<protocol_case> protocols() {
    return {
        {"videohub", [](auto& io, auto state) { return fake::makeFakeVideohub(io, std::move(state)); }, {}},
        {"swp08",
         [](auto& io, auto state) { return fake::makeFakeSwp08(io, std::move(state)); },
         {{"AnswerWait", "10000"}},
         false,
         "no valid message"},
        {"emberplus",
         [](auto& io, auto state) { return fake::makeFakeEmberplus(io, std::move(state)); },
         {{"Matrix", "router/matrices/video"}, {"AnswerWait", "10000"}},
         true,
         "no valid S101 frame"},
        {"quartz",
         [](auto& io, auto state) { return fake::makeFakeQuartz(io, std::move(state)); },
         {{"AnswerWait", "10000"}}},
        {"nmos",
         [](auto& io, auto state) { return fake::makeFakeNmos(io, std::move(state)); },
         {{"Senders", listOf(&quon::test::nmos::senderId)}, {"Receivers", listOf(&quon::test::nmos::receiverId)}}},
    };
}

// The protocols on one TCP connection to the router (NMOS has a second, for
// its WebSockets: test_nmos_connection.cpp).
std::vector<protocol_case> oneConnection() {
    std::vector<protocol_case> all = protocols();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const protocol_case& c) { return std::string(c.protocol) == "nmos"; }),
              all.end());
    return all;
}

std::vector<protocol_case> droppedByGarbage() {
    std::vector<protocol_case> all = protocols();
    all.erase(std::remove_if(all.begin(), all.end(), [](const protocol_case& c) { return !c.garbageDrops; }),
              all.end());
    return all;
}

void PrintTo(const protocol_case& c, std::ostream* out) { *out << c.protocol; }

std::string nameOf(const testing::TestParamInfo<protocol_case>& info) { return info.param.protocol; }

class EveryProtocol : public quon::test::ConnectionTest {
protected:
    // The link to the router as its device file describes it.
    void connectAsTheDeviceFileSays(const protocol_case& c) {
        std::vector<std::pair<std::string, std::string>> keys = c.keys;
        // The client paces its keep-alives as the link does.
        keys.insert(keys.begin(), {{"Address", "127.0.0.1:" + std::to_string(router->port())},
                                   {"KeepAlive", std::to_string(settings.keepAliveInterval.count())}});
        quon::router_description d = quon::test::routerDevice(c.protocol, keys);
        d.databaseSizes = {{0, size}, {1, size}};
        const routers::protocol_descriptor* descriptor = nullptr;
        for (const routers::protocol_descriptor& p : quon::networkProtocols())
            if (p.name == c.protocol) descriptor = &p;
        ASSERT_NE(descriptor, nullptr);
        routers::router_settings read;
        std::string error;
        std::unique_ptr<routers::router_client> client = routers::readRouterKeys(d, *descriptor, read, error);
        ASSERT_TRUE(client) << error;
        // The test's timings, not the protocol's defaults.
        settings.host = read.host;
        settings.port = read.port;
        settings.path = read.path;
        settings.sources = settings.destinations = size;
        link = routers::connectOverTcp(io, settings, heard, std::move(client));
        heard.link = link.get();
        link->start();
    }
    bool heardUp(std::size_t ups = 1) {
        return waitUntil([&] { return heard.ups.size() >= ups; });
    }

    judging_listener heard;
};

enum class away { reconnect, resync };

class RouterRead : public EveryProtocol, public testing::WithParamInterface<std::tuple<protocol_case, away>> {};

// Only what changed is heard again; a resync finds the changes without
// losing the router.
TEST_P(RouterRead, ShowsNoNameThatWasNotTrueWhileItReadsTheRouterAgain) {
    const protocol_case& c = std::get<0>(GetParam());
    const away how = std::get<1>(GetParam());
    if (how == away::resync) settings.resyncInterval = 200ms;
    router = c.makeRouter(io, before());
    connectAsTheDeviceFileSays(c);
    ASSERT_TRUE(waitUntil([&] { return heard.ups.size() == 1 && link->source(watched) == 10; }));
    ASSERT_EQ(*link->label(routers::source_labels, 10), "Input 10");
    heard.clearEvents();

    if (how == away::reconnect) {
        fake::router_state after = before();
        after.routes[watched - 1] = 16;
        after.inputLabels[9] = "CLEAN 57";
        after.inputLabels[15] = "CAM 16";
        router->restart(after);
    } else {
        // Lost pushes: only a read of the whole state finds the changes.
        router->setSilent(true);
        change(*router);
        router->setSilent(false);
    }
    ASSERT_TRUE(waitUntil([&] {
        const std::string* renamed = link->label(routers::source_labels, 10);
        return link->source(watched) == 16 && renamed && *renamed == "CLEAN 57";
    })) << c.protocol;
    EXPECT_EQ(*link->label(routers::source_labels, 16), "CAM 16");
    EXPECT_TRUE(heard.neverTrue.empty()) << c.protocol << " showed " << heard.neverTrue.front();
    std::vector<std::string> renamed;
    for (const label_call& l : heard.labels)
        renamed.push_back(std::to_string(l.database) + " " + std::to_string(l.index) + " " + l.text);
    std::sort(renamed.begin(), renamed.end());
    EXPECT_EQ(renamed, (std::vector<std::string>{"0 10 CLEAN 57", "0 16 CAM 16"}));
    if (how == away::resync) {
        EXPECT_TRUE(heard.downs.empty()) << heard.downs.front().first;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RouterRead,
                         testing::Combine(testing::ValuesIn(protocols()),
                                          testing::Values(away::reconnect, away::resync)),
                         [](const testing::TestParamInfo<RouterRead::ParamType>& info) {
                             return std::string(std::get<0>(info.param).protocol) +
                                    (std::get<1>(info.param) == away::reconnect ? "_reconnect" : "_resync");
                         });

class RouterKeepAlive : public EveryProtocol, public testing::WithParamInterface<protocol_case> {};

TEST_P(RouterKeepAlive, AHungRouterIsLostAtItsUnansweredKeepAlive) {
    settings.keepAliveInterval = 100ms;
    settings.keepAliveWait = 300ms;
    router = GetParam().makeRouter(io, before());
    connectAsTheDeviceFileSays(GetParam());
    ASSERT_TRUE(heardUp());
    // Up, and its keep-alives answered. (A machine too busy to read an
    // answer in time may lose the router once here; the link connects
    // again, and what counts is the loss after the router hangs.)
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > answered + 1 && link->up(); }));
    const std::size_t downs = heard.downs.size();
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return heard.downs.size() > downs; }));
    EXPECT_EQ(heard.downs[downs].first.rfind("no answer to a keep-alive within 300 ms", 0), 0u)
        << heard.downs[downs].first;
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RouterKeepAlive, testing::ValuesIn(protocols()), &nameOf);

// The link on a router's one connection, started once a test has made its
// settings.
class RouterLink : public EveryProtocol, public testing::WithParamInterface<protocol_case> {
protected:
    void start() {
        router = GetParam().makeRouter(io, before());
        connectAsTheDeviceFileSays(GetParam());
    }
};

TEST_P(RouterLink, ReadsEveryRouteAndNameThenGoesUp) {
    start();
    ASSERT_TRUE(heardUp());
    EXPECT_TRUE(link->up());
    EXPECT_EQ(heard.ups[0], std::make_pair(size, size));
    std::vector<std::pair<int, int>> routes = heard.crosspoints, held;
    std::sort(routes.begin(), routes.end());
    for (int d = 1; d <= size; ++d) held.emplace_back(d, before().routes[d - 1]);
    EXPECT_EQ(routes, held);
    EXPECT_EQ(heard.changes.size(), std::size_t{size}) << "every route is news at the first read";
    EXPECT_EQ(heard.labels.size(), 2u * size);
    EXPECT_EQ(*link->label(routers::source_labels, size), "Input 20");
    EXPECT_EQ(*link->label(routers::destination_labels, 9), "Output 9");  // within SW-P-08's 8 characters
    EXPECT_EQ(link->label(routers::destination_labels, size + 1), nullptr);
    EXPECT_EQ(link->source(watched), 10);
    EXPECT_EQ(link->source(size + 1), std::nullopt);
    EXPECT_TRUE(heard.problems.empty()) << heard.problems.front();
}

TEST_P(RouterLink, ARouteAskedForIsShownOnceTheRouterReportsItAndOneOutsideTheRouterIsRefused) {
    start();
    EXPECT_FALSE(link->requestRoute(1, 2)) << "not up yet";
    ASSERT_TRUE(heardUp());
    heard.clearEvents();
    ASSERT_TRUE(link->requestRoute(5, 12));
    EXPECT_EQ(link->source(5), 5);
    ASSERT_TRUE(waitUntil([&] { return heard.sawCrosspoint(5, 12); }));
    EXPECT_EQ(link->source(5), 12);
    EXPECT_EQ(router->state().routes[4], 12);
    for (const auto& [destination, source] : {std::pair{size + 1, 1}, std::pair{1, size + 1}, std::pair{0, 1}})
        EXPECT_FALSE(link->requestRoute(destination, source)) << destination << " from " << source;
}

TEST_P(RouterLink, FollowsARouteAndRenamesMadeAtTheRouter) {
    start();
    ASSERT_TRUE(heardUp());
    heard.clearEvents();
    router->route(3, 17);
    ASSERT_TRUE(waitUntil([&] { return heard.sawCrosspoint(3, 17); }));
    EXPECT_EQ(link->source(3), 17);
    EXPECT_EQ(heard.changes, (std::vector<std::pair<int, int>>{{3, 17}}));
    if (!GetParam().pushesRenames) return;
    router->setLabel(routers::source_labels, 17, "CAMERA 17, WIDE");
    router->setLabel(routers::destination_labels, 3, "PGM");
    ASSERT_TRUE(waitUntil([&] { return heard.labels.size() >= 2; }));
    EXPECT_EQ(*link->label(routers::source_labels, 17), "CAMERA 17, WIDE");
    EXPECT_EQ(*link->label(routers::destination_labels, 3), "PGM");
}

TEST_P(RouterLink, ARouterThatClosesIsReconnectedAndReadAgain) {
    start();
    ASSERT_TRUE(heardUp());
    heard.clearEvents();
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return !heard.downs.empty(); }));
    EXPECT_EQ(heard.downs[0].first, "the router closed the connection");
    EXPECT_GT(heard.downs[0].second, 0ms);
    EXPECT_LE(heard.downs[0].second, settings.backOffFirst);
    EXPECT_FALSE(link->up());
    ASSERT_TRUE(heardUp(2));
    EXPECT_EQ(heard.crosspoints.size(), std::size_t{size}) << "every route heard again";
    EXPECT_TRUE(heard.changes.empty()) << "routes unchanged are not changes";
    EXPECT_TRUE(heard.labels.empty()) << "names unchanged are not heard again";
    EXPECT_EQ(router->connectionsAccepted(), 2);
}

TEST_P(RouterLink, ASilentRouterIsLostAtTheSilenceLimitAndReadAgainWhenItSpeaks) {
    settings.silenceLimit = 400ms;
    start();
    ASSERT_TRUE(heardUp());
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return !heard.downs.empty(); }));
    EXPECT_EQ(heard.downs[0].first, "nothing received for 400 ms");
    router->setSilent(false);
    ASSERT_TRUE(heardUp(2));
    EXPECT_TRUE(link->up());
}

// A router may send nothing unasked: the link's keep-alives keep an idle
// connection heard, past the silence limit many times over, and their
// answers are no routes.
TEST_P(RouterLink, AnIdleRouterIsKeptByTheKeepAliveWhoseAnswersAreNoRoutes) {
    settings.silenceLimit = 2000ms;
    start();
    ASSERT_TRUE(heardUp());
    heard.clearEvents();
    // Keep-alives every 50 ms: 60 answered take past the silence limit.
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() >= answered + 60; }));
    EXPECT_TRUE(link->up());
    EXPECT_TRUE(heard.downs.empty()) << heard.downs.front().first;
    EXPECT_TRUE(heard.crosspoints.empty());
    EXPECT_TRUE(heard.problems.empty()) << heard.problems.front();
    router->route(1, 4);
    ASSERT_TRUE(waitUntil([&] { return heard.sawCrosspoint(1, 4); })) << "a real route still is one";
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RouterLink, testing::ValuesIn(oneConnection()), &nameOf);

class RouterFlood : public RouterLink {};

TEST_P(RouterFlood, AFloodOfGarbageDropsTheConnectionSayingWhyAndItRecovers) {
    start();
    ASSERT_TRUE(heardUp());
    router->sendGarbage(std::string(40000, 'x'));
    ASSERT_TRUE(waitUntil([&] { return !heard.downs.empty(); }));
    EXPECT_NE(heard.downs[0].first.find(GetParam().garbageDrops), std::string::npos) << heard.downs[0].first;
    ASSERT_TRUE(heardUp(2));
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RouterFlood, testing::ValuesIn(droppedByGarbage()), &nameOf);

}  // namespace
