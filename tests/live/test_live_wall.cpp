// A large wall's displays are made a slice a turn of the loop; a slice
// waits while a router's bytes wait unread, a few turns at most.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/live/live_wall.h"
#include "quon/routers/built_in_routers.h"
#include "temp_system.h"

namespace {

using namespace quon;

// A router whose bytes never stop coming.
class busy_router : public router_backend {
public:
    router_status status() const override { return {router_state::connected, 8, "", {}}; }
    int destinations() const override { return 8; }
    void poll(int, int, uint64_t) override {}
    const std::string* name(int, int) const override { return nullptr; }
    int crosspoint(int) const override { return 0; }
    bool route(int, int, std::string&) override { return false; }
    bool rename(int, int, const std::string&, std::string&) override { return false; }
    bool setAnswers(bool, std::string&) override { return false; }
    bool unread() const override {
        ++asked;
        return true;
    }
    mutable int asked = 0;
};

TEST(LiveWall, ARouterThatNeverStopsSendingDoesNotHoldTheWallBack) {
    temp_system system;
    system.writeDevice(1, "[Router]\nProtocol=busy\n[Database]\nDatabaseSize_1=8\n");
    system.writeFile("instances.ini", "[Instances]\n");
    router_registry routers = builtInRouters();
    busy_router* busy = nullptr;
    routers.add("busy", [&busy](const router_description&, router_events&, std::string&) {
        auto r = std::make_unique<busy_router>();
        busy = r.get();
        return r;
    }, {});
    host_engine engine(readSystem(system.folder()), routers);
    ASSERT_NE(busy, nullptr);

    // Three slices' worth of displays that watch no router.
    const int displays = 2500;
    const std::string file = system.folder() + "/wall.toml";
    {
        std::ofstream out(file);
        for (int i = 1; i <= displays; ++i)
            out << "[[display]]\nname = \"d" << i << "\"\nmodule = \"" << PROBE_MODULE_PATH << "\"\n";
    }
    boost::asio::io_context loop;
    quon::display_model model;
    engine.addListener(&model);
    live_wall wall(loop, engine, model, PROBE_MODULE_PATH, "", nullptr, [](const std::string&) {});
    std::vector<std::string> errors;
    ASSERT_TRUE(wall.start(file, errors, live_wall::pace::in_slices)) << (errors.empty() ? "" : errors[0]);
    EXPECT_TRUE(wall.creating());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (wall.creating() && std::chrono::steady_clock::now() < deadline) loop.run_one_for(std::chrono::seconds(1));
    EXPECT_FALSE(wall.creating());
    EXPECT_EQ(engine.components().count(), static_cast<size_t>(displays));
    EXPECT_GT(busy->asked, 0) << "the slices never asked whether the router's bytes wait";
    engine.components().destroyAll();
    engine.removeListener(&model);
}

}  // namespace
