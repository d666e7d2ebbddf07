// The reload as a plan: what becomes of each router, decided from the
// device files alone.
#include "quon/engine/reload_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

using quon::reload_step;
using quon::router_description;

router_description router(int device) {
    router_description d;
    d.device = device;
    d.name = "R" + std::to_string(device);
    d.databaseSizes = {{0, 8}, {1, 4}};
    d.entryNames = {{0, {{1, "CAM 1"}}}};
    d.crosspoints = {{1, 2}};
    return d;
}

// The steps as "what device" texts.
std::vector<std::string> plan(const std::vector<router_description>& now, const std::vector<router_description>& next) {
    std::map<int, const router_description*> running;
    for (const router_description& d : now) running[d.device] = &d;
    quon::system_description system;
    system.routers = next;
    std::vector<std::string> out;
    for (const reload_step& s : quon::planReload(running, system)) {
        static const char* const words[] = {"names", "replace", "add", "gone"};
        out.push_back(std::string(words[static_cast<int>(s.what)]) + " " + std::to_string(s.device));
        if (s.what == reload_step::action::gone)
            EXPECT_EQ(s.description, nullptr);
        else
            EXPECT_EQ(s.description->device, s.device);
    }
    return out;
}

struct change_case {
    const char* name;
    void (*change)(router_description&);
    const char* step;  // what becomes of router 1
};

void PrintTo(const change_case& c, std::ostream* out) { *out << c.name; }

class ReloadPlanChange : public ::testing::TestWithParam<change_case> {};

TEST_P(ReloadPlanChange, ARouterIsMadeAnewOnlyWhenItsFileChangedBeyondNamesAndRoutes) {
    router_description next = router(1);
    GetParam().change(next);
    EXPECT_EQ(plan({router(1)}, {next}), std::vector<std::string>{GetParam().step});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReloadPlanChange,
    ::testing::Values(
        change_case{"Nothing", [](router_description&) {}, "names 1"},
        // The backend is offered the names; whether they changed is its own affair.
        change_case{"EntryNames", [](router_description& d) { d.entryNames[0][1] = "CAM 1 WIDE"; }, "names 1"},
        change_case{"Routes", [](router_description& d) { d.crosspoints[1] = 3; }, "names 1"},
        change_case{"Name", [](router_description& d) { d.name = "Main"; }, "replace 1"},
        change_case{"Protocol", [](router_description& d) { d.protocol = "videohub"; }, "replace 1"},
        change_case{"ASetting", [](router_description& d) { d.settings["address"] = "127.0.0.1:9990"; },
                    "replace 1"},
        change_case{"Answering", [](router_description& d) { d.answers = false; }, "replace 1"},
        change_case{"ASize", [](router_description& d) { d.databaseSizes[1] = 8; }, "replace 1"},
        // Where a key sits in the file is no change of the router.
        change_case{"TheLinesOfItsKeys", [](router_description& d) { d.settingLines["name"] = 9; }, "names 1"}),
    [](const ::testing::TestParamInfo<change_case>& info) { return info.param.name; });

TEST(ReloadPlan, NewFilesAddAndFilesGoneGoAfterTheFilesInTheirOrder) {
    EXPECT_EQ(plan({router(1), router(2), router(5)}, {router(3), router(2), router(4)}),
              (std::vector<std::string>{"add 3", "names 2", "add 4", "gone 1", "gone 5"}));
}

TEST(ReloadPlan, NoRoutersBeforeOrAfter) {
    EXPECT_EQ(plan({}, {}), std::vector<std::string>{});
    EXPECT_EQ(plan({}, {router(1)}), std::vector<std::string>{"add 1"});
    EXPECT_EQ(plan({router(1)}, {}), std::vector<std::string>{"gone 1"});
}

}  // namespace
