// Routes and names reaching the components watching a router, and what a
// reload of the system folder does to them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <tuple>

#include "host_engine_fixture.h"
#include "quon/routers/built_in_routers.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace quon;

namespace {

TEST_F(HostEngine, PollDeliversAfterTheCallReturns) {
    send("p", "RP 1 1 3");
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 2", "revertive 1 2 1", "revertive 1 3 0"));
    send("p", "RP 1 -5 99");  // cut to the router's destinations
    EXPECT_EQ(log("p").size(), 4u);
    send("p", "RP 2 1 1");  // router 2 does not answer
    EXPECT_THAT(log("p"), IsEmpty());
}

TEST_F(HostEngine, RouteChangesReachRegisteredComponentsOnly) {
    send("p", "RR 1 1 1");
    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->routers().route(1, 1, 5, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 5"));
    EXPECT_THAT(log("q"), IsEmpty());

    send("p", "RR 1 2 2");  // replaces the registration on router 1
    ASSERT_TRUE(engine->routers().route(1, 1, 6, error));
    ASSERT_TRUE(engine->routers().route(1, 2, 7, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 2 7"));
    EXPECT_THAT(log("q"), ElementsAre("revertive 1 2 7"));

    send("p", "RR 1 1 1 'ADD'");  // adds to it
    ASSERT_TRUE(engine->routers().route(1, 1, 3, error));
    ASSERT_TRUE(engine->routers().route(1, 2, 3, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 3", "revertive 1 2 3"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->routers().route(1, 1, 4, error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_EQ(engine->routers().crosspoint(1, 1), 4);

    EXPECT_FALSE(engine->routers().route(1, 5, 1, error));
    EXPECT_EQ(error, "router 1 has no destination 5");
    EXPECT_FALSE(engine->routers().route(7, 1, 1, error));
}

TEST_F(HostEngine, SilentRouterTakesRoutesWithoutRevertives) {
    send("p", "RR 2 1 1");
    ASSERT_TRUE(engine->routers().route(2, 1, 2, error));
    EXPECT_THAT(log("p"), IsEmpty());
    ASSERT_TRUE(engine->routers().setAnswers(2, true, error));
    send("p", "RP 2 1 1");
    EXPECT_THAT(log("p"), ElementsAre("revertive 2 1 2"));
}

TEST_F(HostEngine, RenamingAnEntryTellsOnlyTheComponentsRegisteredOnTheDevice) {
    send("p", "RR 1 1 1");
    send("q", "RR 2 1 1");
    ASSERT_TRUE(engine->routers().rename(1, 0, 2, "CAM 2 WIDE", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 2"));
    EXPECT_THAT(log("q"), IsEmpty());
    EXPECT_EQ(send("q", "RN 1 0 2"), "CAM 2 WIDE");

    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->routers().rename(1, 1, 1, "MON 1", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 1 1"));
    EXPECT_THAT(log("q"), ElementsAre("database 1 1 1"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->routers().rename(1, 0, 3, "CAM 3", error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_THAT(log("q"), ElementsAre("database 1 0 3"));

    // Registered again after unregistering: told once.
    send("p", "RR 1 1 1");
    ASSERT_TRUE(engine->routers().rename(1, 0, 4, "CAM 4", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 4"));
    EXPECT_THAT(log("q"), ElementsAre("database 1 0 4"));
}

engine_routers::system_changes reload(host_engine& engine, const temp_system& system) {
    return engine.routers().applySystem(readSystem(system.folder()), builtInRouters());
}

TEST_F(HostEngine, AReloadRenamesTheEntriesItsFileRenamedAndTellsTheWatchers) {
    send("p", "RR 1 1 1");
    ASSERT_TRUE(engine->routers().rename(1, 0, 2, "CAM 2 BY HAND", error));
    log("p");
    system.writeDevice(1,
                       "[Router]\nName=R\n[Database]\nDatabaseSize_0=8\nDatabaseSize_1=4\n"
                       "[Database_0]\n1=CAM 1 WIDE\n2=CAM 2\n[Crosspoints]\n1=2\n2=1\n");
    const engine_routers::system_changes changes = reload(*engine, system);
    EXPECT_THAT(changes.renamed, ElementsAre(1));
    EXPECT_THAT(changes.changed, IsEmpty());
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 1"));
    EXPECT_EQ(send("p", "RN 1 0 1"), "CAM 1 WIDE");
    EXPECT_EQ(send("p", "RN 1 0 2"), "CAM 2 BY HAND") << "an entry the file did not change keeps its name";
    EXPECT_THAT(reload(*engine, system).renamed, IsEmpty());
}

// Names of indices beyond a database's size, of a database without one,
// and those a reloaded file no longer gives, are kept as any other.
TEST_F(HostEngine, NamesBeyondTheSizesAndNamesAReloadDropsAreKept) {
    system.writeDevice(1,
                       "[Router]\nName=R\n[Database]\nDatabaseSize_0=8\nDatabaseSize_1=4\n"
                       "[Database_0]\n2=CAM 2\n9=NINE\n-1=MINUS\n[Database_3]\n7=SEVEN\n[Crosspoints]\n1=2\n2=1\n");
    EXPECT_THAT(reload(*engine, system).renamed, ElementsAre(1));
    EXPECT_EQ(send("p", "RN 1 0 1"), "CAM 1") << "the file no longer names it";
    EXPECT_EQ(send("p", "RN 1 0 9"), "NINE");
    EXPECT_EQ(send("p", "RN 1 0 -1"), "MINUS");
    EXPECT_EQ(send("p", "RN 1 3 7"), "SEVEN");
    EXPECT_EQ(send("p", "RN 1 0 3"), "(null)");
    ASSERT_TRUE(engine->routers().rename(1, 0, 9, "NINE BY HAND", error));
    EXPECT_THAT(reload(*engine, system).renamed, IsEmpty());
    EXPECT_EQ(send("p", "RN 1 0 9"), "NINE BY HAND");
    EXPECT_EQ(send("p", "RN 1 0 1"), "CAM 1");
}

TEST_F(HostEngine, ARouterMadeAnewAtAReloadKeepsItsWatchersAndTellsThemItsRoutes) {
    send("p", "RR 1 1 2");
    send("q", "RR 1 2 2");
    system.writeDevice(1, "[Router]\nName=R\n[Database]\nDatabaseSize_0=8\nDatabaseSize_1=6\n[Crosspoints]\n1=3\n");
    const engine_routers::system_changes changes = reload(*engine, system);
    EXPECT_THAT(changes.changed, ElementsAre(1));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 3"));
    EXPECT_THAT(log("q"), IsEmpty());
    ASSERT_TRUE(engine->routers().route(1, 2, 5, error)) << error;
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 2 5"));
    EXPECT_THAT(log("q"), ElementsAre("revertive 1 2 5"));
    ASSERT_TRUE(engine->routers().route(1, 6, 1, error)) << error;
}

TEST_F(HostEngine, AWatchOnARouterTheSystemLacksIsKeptAndTakenWhenAReloadAddsIt) {
    send("q", "RR 3 1 1");
    send("q", "RU 3");
    EXPECT_FALSE(engine->components().watchPlace("q"));
    send("p", "RR 3 2 2");
    const std::optional<engine_components::watch_place> asked = engine->components().watchPlace("p");
    ASSERT_TRUE(asked);
    EXPECT_EQ(std::make_tuple(asked->router, asked->destination, asked->absent), std::make_tuple(3, 2, true));

    system.writeDevice(3, "[Router]\nName=T\n[Database]\nDatabaseSize_1=4\n[Crosspoints]\n2=3\n");
    EXPECT_THAT(reload(*engine, system).added, ElementsAre(3));
    EXPECT_FALSE(engine->components().watchPlace("p")->absent);
    EXPECT_THAT(log("p"), ElementsAre("revertive 3 2 3"));
    ASSERT_TRUE(engine->routers().route(3, 2, 1, error)) << error;
    EXPECT_THAT(log("p"), ElementsAre("revertive 3 2 1"));
    EXPECT_THAT(log("q"), IsEmpty());
}

TEST_F(HostEngine, ARouterWhoseFileIsGoneStaysWhileWatched) {
    system.writeDevice(3, "[Database]\nDatabaseSize_1=2\n");
    EXPECT_THAT(reload(*engine, system).added, ElementsAre(3));
    send("q", "RR 2 1 1");
    ASSERT_EQ(std::remove((system.folder() + "/dev_002.ini").c_str()), 0);
    ASSERT_EQ(std::remove((system.folder() + "/dev_003.ini").c_str()), 0);
    trace.clear();
    EXPECT_THAT(reload(*engine, system).removed, ElementsAre(3));
    EXPECT_THAT(trace, testing::Contains(testing::HasSubstr("router 2: its device file is gone, but displays watch it")));
    EXPECT_TRUE(engine->routers().status(2));
    send("q", "RU 2");
    EXPECT_THAT(reload(*engine, system).removed, ElementsAre(2));
    EXPECT_FALSE(engine->routers().status(2));
}

// A component whose module returns none takes what it did while loading
// with it: a router it watched is not held for it, its timer never runs.
TEST_F(HostEngine, AComponentThatFailsToLoadLeavesNoWatchOrTimerBehind) {
    EXPECT_EQ(engine->components().create("x", PROBE_MODULE_PATH, "watch and refuse", error),
              engine_components::create_status::load_failed);
    EXPECT_EQ(engine->nextDue(), std::nullopt);
    ASSERT_EQ(std::remove((system.folder() + "/dev_002.ini").c_str()), 0);
    EXPECT_THAT(reload(*engine, system).removed, ElementsAre(2));
}

}  // namespace
