// Tally through the engine: the routes it learns and the tie lines it is
// given carry what the vision mixers light to the components watching.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "host_engine_fixture.h"

using ::testing::ElementsAre;

using namespace quon;

namespace {

tally::point source(int matrix, int number) { return {matrix, tally::point::end::source, number}; }

// Puts what the engine tells of tally among the trace lines, so that the
// order of revertive and tally shows.
struct tally_recorder : host_listener {
    explicit tally_recorder(std::vector<std::string>& lines) : lines(lines) {}
    void answered(const std::string& component) override { lines.push_back(component + " answered"); }
    void tallyChanged(const std::string& component, tally::status now, const tally_graph::reason* why) override {
        lines.push_back(component + " tally " + tally::stateName(now.now) +
                        (why ? " (" + reasonText(*why) + ")" : ""));
    }
    std::vector<std::string>& lines;
};

// A component's first route is told once, as it reaches the component:
// what it shows from then on is a router's.
TEST_F(HostEngine, TheFirstRouteIsToldOnce) {
    tally_recorder told(trace);
    engine->addListener(&told);
    trace.clear();
    send("p", "RR 1 1 1");
    ASSERT_TRUE(engine->routers().route(1, 1, 3, error));
    ASSERT_TRUE(engine->routers().route(1, 1, 4, error));
    EXPECT_GE(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& line) { return line.find("revertive") != std::string::npos; }),
              2)
        << "more than one route reached it: " << testing::PrintToString(trace);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "p answered"), 1) << testing::PrintToString(trace);
    const auto first = std::find_if(trace.begin(), trace.end(),
                                    [](const std::string& line) { return line.find("revertive") != std::string::npos; });
    EXPECT_EQ(std::find(trace.begin(), trace.end(), "p answered") - first, 1) << testing::PrintToString(trace);
    engine->removeListener(&told);
}

TEST_F(HostEngine, ARouteChangeMovesTheTallyAfterTheComponentHasTheRevertive) {
    tally_recorder tally(trace);
    engine->addListener(&tally);
    send("p", "RR 1 1 1");  // router 1 destination 1 shows source 2
    send("q", "RR 1 2 2");  // destination 2 shows source 1
    engine->tally().setLits({{"mixer1", 4, source(1, 2), tally::program_bus}});
    EXPECT_EQ(engine->tally().of("p").now, tally::state::program);
    EXPECT_EQ(engine->tally().of("q").now, tally::state::off);

    trace.clear();
    ASSERT_TRUE(engine->routers().route(1, 2, 2, error));
    std::vector<std::string> told;
    for (const std::string& line : trace)
        if (line.find("revertive") != std::string::npos || line.find("tally") != std::string::npos)
            told.push_back(line.substr(line.find("q")));
    ASSERT_FALSE(told.empty());
    // Lit, with the way from the mixer's index: told, not asked for.
    EXPECT_EQ(told.back().rfind("q tally program (", 0), 0u) << told.back();
    EXPECT_NE(told.back().find("mixer1 index 4"), std::string::npos) << told.back();
    EXPECT_NE(told.front().find("revertive"), std::string::npos) << told.front();
    EXPECT_EQ(engine->tally().changes().at("mixer1"), 1u);
    engine->removeListener(&tally);
}

// Until something is lit the engine keeps no tally; a route changed before
// then is the one the first lit index follows, and the reason reads alike.
TEST_F(HostEngine, ARouteChangedBeforeAnythingIsLitIsFollowedOnceItIs) {
    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->routers().route(1, 2, 2, error));
    const std::optional<tally_graph::reason> before = engine->tally().why("q");
    ASSERT_TRUE(before);
    EXPECT_EQ(before->now, tally::state::off);
    EXPECT_EQ(before->shown, (std::vector<tally::point>{{1, tally::point::end::destination, 2}, source(1, 2)}));
    engine->tally().setLits({{"mixer1", 1, source(1, 1), 0}});  // nothing lit: still asleep
    ASSERT_TRUE(engine->routers().route(1, 2, 3, error));
    engine->tally().setLits({{"mixer1", 4, source(1, 3), tally::program_bus}});
    EXPECT_EQ(engine->tally().of("q").now, tally::state::program);
    EXPECT_EQ(engine->tally().why("q")->shown.back(), source(1, 3));
    EXPECT_EQ(engine->tally().changes().at("mixer1"), 2u);
}

TEST_F(HostEngine, ATieLineCarriesTheTallyToAnotherRouterAndSaysWhy) {
    ASSERT_TRUE(engine->routers().setAnswers(2, true, error));
    ASSERT_TRUE(engine->routers().route(2, 1, 2, error));
    send("q", "RR 2 1 1");
    // Router 1 destination 2 (source 1, from its file) feeds router 2 source 2.
    engine->tally().setTies({{1, 2, 2, 2}});
    engine->tally().setLits({{"mixer1", 1, source(1, 1), tally::preview_bus}});
    EXPECT_EQ(engine->tally().of("q").now, tally::state::preview);
    const std::optional<tally_graph::reason> why = engine->tally().why("q");
    ASSERT_TRUE(why);
    EXPECT_EQ(why->input, "mixer1");
    EXPECT_EQ(why->shown.size(), 4u);
    // Router 1 made anew at a reload, its destination 2 now showing source 3.
    system.writeDevice(1, "[Router]\nName=R\n[Database]\nDatabaseSize_0=8\nDatabaseSize_1=6\n[Crosspoints]\n2=3\n");
    ASSERT_THAT(engine->routers().applySystem(readSystem(system.folder()), builtInRouters()).changed, ElementsAre(1));
    EXPECT_EQ(engine->tally().of("q").now, tally::state::off);
    engine->tally().setLits({{"mixer1", 2, source(1, 3), tally::program_bus}});
    EXPECT_EQ(engine->tally().of("q").now, tally::state::program);
    engine->tally().setTies({});
    EXPECT_EQ(engine->tally().of("q").now, tally::state::off);
    send("q", "RU 2");
    EXPECT_FALSE(engine->tally().why("q"));
}

}  // namespace
