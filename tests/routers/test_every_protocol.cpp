// What every router protocol does alike, each protocol against its fake
// router on a loopback socket, its link made as its device file says.
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

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "connection_test.h"
#include "nmos_registry_text.h"
#include "router_device.h"
#include "quon/routers/network_routers.h"
#include "quon/routers/router_keys.h"

using namespace std::chrono_literals;
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
    void crosspoint(int destination, int source) override {
        recording_listener::crosspoint(destination, source);
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
};

std::string listOf(std::string (*id)(int)) {
    std::string list;
    for (int n = 1; n <= size; ++n) list += (n > 1 ? "," : "") + id(n);
    return list;
}

std::vector<protocol_case> protocols() {
    return {
        {"videohub", [](auto& io, auto state) { return fake::makeFakeVideohub(io, std::move(state)); }, {}},
        {"swp08", [](auto& io, auto state) { return fake::makeFakeSwp08(io, std::move(state)); }, {}},
        {"emberplus", [](auto& io, auto state) { return fake::makeFakeEmberplus(io, std::move(state)); }, {}},
        {"quartz", [](auto& io, auto state) { return fake::makeFakeQuartz(io, std::move(state)); }, {}},
        {"nmos",
         [](auto& io, auto state) { return fake::makeFakeNmos(io, std::move(state)); },
         {{"Senders", listOf(&quon::test::nmos::senderId)}, {"Receivers", listOf(&quon::test::nmos::receiverId)}}},
    };
}

class EveryProtocol : public quon::test::ConnectionTest {
protected:
    // The link to the router as its device file describes it.
    void connectAsTheDeviceFileSays(const protocol_case& c) {
        std::vector<std::pair<std::string, std::string>> keys = c.keys;
        keys.insert(keys.begin(), {"Address", "127.0.0.1:" + std::to_string(router->port())});
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
        link = routers::connectOverTcp(io, settings, judge, std::move(client));
        judge.link = link.get();
        link->start();
    }

    judging_listener judge;
};

enum class away { reconnect, resync };

class RouterRead : public EveryProtocol, public testing::WithParamInterface<std::tuple<protocol_case, away>> {};

TEST_P(RouterRead, ShowsNoNameThatWasNotTrueWhileItReadsTheRouterAgain) {
    const protocol_case& c = std::get<0>(GetParam());
    const away how = std::get<1>(GetParam());
    if (how == away::resync) settings.resyncInterval = 200ms;
    router = c.makeRouter(io, before());
    connectAsTheDeviceFileSays(c);
    ASSERT_TRUE(waitUntil([&] { return judge.ups.size() == 1 && link->source(watched) == 10; }));
    ASSERT_EQ(*link->label(routers::source_labels, 10), "Input 10");

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
    EXPECT_TRUE(judge.neverTrue.empty()) << c.protocol << " showed " << judge.neverTrue.front();
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
    ASSERT_TRUE(waitUntil([&] { return !judge.ups.empty(); }));
    // Up, and its keep-alives answered. (A machine too busy to read an
    // answer in time may lose the router once here; the link connects
    // again, and what counts is the loss after the router hangs.)
    const int answered = router->keepAlivesAnswered();
    ASSERT_TRUE(waitUntil([&] { return router->keepAlivesAnswered() > answered + 1 && link->up(); }));
    const std::size_t downs = judge.downs.size();
    router->setSilent(true);
    ASSERT_TRUE(waitUntil([&] { return judge.downs.size() > downs; }));
    EXPECT_EQ(judge.downs[downs].first.rfind("no answer to a keep-alive within 300 ms", 0), 0u)
        << judge.downs[downs].first;
}

INSTANTIATE_TEST_SUITE_P(EveryProtocol, RouterKeepAlive, testing::ValuesIn(protocols()),
                         [](const testing::TestParamInfo<protocol_case>& info) { return info.param.protocol; });

}  // namespace
