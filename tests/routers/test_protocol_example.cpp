// The router protocol docs/architecture.md shows, as CMake cuts it from
// the page (router_protocol_example.cpp): it compiles, its keys are read as
// the page says, and its client reads the routes, goes up and routes.
#include <gtest/gtest.h>

#include "quon/routers/router_keys.h"
#include "router_device.h"

namespace routers = quon::routers;
using namespace std::chrono_literals;

namespace quon::routers::lines {
protocol_descriptor descriptor();
}

namespace {

std::unique_ptr<routers::router_client> read(const std::string& level, routers::router_settings& settings,
                                             std::string& error) {
    return routers::readRouterKeys(quon::test::routerDevice("lines", {{"Address", "127.0.0.1"}, {"Level", level}}),
                                   routers::lines::descriptor(), settings, error);
}

TEST(ProtocolExample, ItsKeysAreReadAsThePageSays) {
    EXPECT_EQ(routers::keysOf(routers::lines::descriptor()).back(), "Level");
    routers::router_settings settings;
    std::string error;
    EXPECT_NE(read("3", settings, error), nullptr) << error;
    EXPECT_EQ(settings.port, 7000);
    EXPECT_EQ(read("9", settings, error), nullptr);
    EXPECT_EQ(error, "dev_001.ini:4: [Router] Level=9: a whole number from 0 to 3");
}

TEST(ProtocolExample, ReadsTheRoutesGoesUpAndRoutes) {
    routers::router_settings settings;
    std::string error;
    const auto client = read("2", settings, error);
    ASSERT_NE(client, nullptr) << error;
    const auto start = routers::router_clock::now();
    routers::router_actions out;
    client->connected(start, out);
    EXPECT_EQ(out, (routers::router_actions{routers::act::send{"ROUTES? 2\n"},
                                            routers::act::arm_timer{start + settings.connectTimeout}}));
    out.clear();
    const std::string lines = "ROUTE 0 4\nREADY\n";
    client->bytes(reinterpret_cast<const std::uint8_t*>(lines.data()), lines.size(), start, out);
    EXPECT_EQ(out, (routers::router_actions{routers::act::crosspoint{1, 5, false}, routers::act::up{0, 0}}));
    out.clear();
    client->timer(start + settings.connectTimeout, out);
    EXPECT_TRUE(out.empty()) << "up: the connect limit is past";
    EXPECT_TRUE(client->requestRoute(2, 3, out));
    EXPECT_EQ(out, (routers::router_actions{routers::act::send{"ROUTE 1 2\n"}}));
}

TEST(ProtocolExample, ARouterThatNeverSaysReadyFailsAtTheConnectLimit) {
    routers::router_settings settings;
    std::string error;
    const auto client = read("0", settings, error);
    ASSERT_NE(client, nullptr) << error;
    const auto start = routers::router_clock::now();
    routers::router_actions out;
    client->connected(start, out);
    out.clear();
    client->timer(start + 1ms, out);
    EXPECT_TRUE(out.empty()) << "a wake-up before the limit";
    client->timer(start + settings.connectTimeout, out);
    EXPECT_EQ(out, (routers::router_actions{routers::act::fail{"no READY within the connect timeout"}}));
}

}  // namespace
