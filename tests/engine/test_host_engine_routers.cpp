// Routes and names reaching the components registered on a router.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_engine_fixture.h"

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
    ASSERT_TRUE(engine->route(1, 1, 5, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 5"));
    EXPECT_THAT(log("q"), IsEmpty());

    send("p", "RR 1 2 2");  // replaces the registration on router 1
    ASSERT_TRUE(engine->route(1, 1, 6, error));
    ASSERT_TRUE(engine->route(1, 2, 7, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 2 7"));
    EXPECT_THAT(log("q"), ElementsAre("revertive 1 2 7"));

    send("p", "RR 1 1 1 'ADD'");  // adds to it
    ASSERT_TRUE(engine->route(1, 1, 3, error));
    ASSERT_TRUE(engine->route(1, 2, 3, error));
    EXPECT_THAT(log("p"), ElementsAre("revertive 1 1 3", "revertive 1 2 3"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->route(1, 1, 4, error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_EQ(engine->crosspoint(1, 1), 4);

    EXPECT_FALSE(engine->route(1, 5, 1, error));
    EXPECT_EQ(error, "router 1 has no destination 5");
    EXPECT_FALSE(engine->route(7, 1, 1, error));
}

TEST_F(HostEngine, SilentRouterTakesRoutesWithoutRevertives) {
    send("p", "RR 2 1 1");
    ASSERT_TRUE(engine->route(2, 1, 2, error));
    EXPECT_THAT(log("p"), IsEmpty());
    ASSERT_TRUE(engine->setAnswers(2, true, error));
    send("p", "RP 2 1 1");
    EXPECT_THAT(log("p"), ElementsAre("revertive 2 1 2"));
}

TEST_F(HostEngine, RenamingAnEntryTellsOnlyTheComponentsRegisteredOnTheDevice) {
    send("p", "RR 1 1 1");
    send("q", "RR 2 1 1");
    ASSERT_TRUE(engine->rename(1, 0, 2, "CAM 2 WIDE", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 2"));
    EXPECT_THAT(log("q"), IsEmpty());
    EXPECT_EQ(send("q", "RN 1 0 2"), "CAM 2 WIDE");

    send("q", "RR 1 2 2");
    ASSERT_TRUE(engine->rename(1, 1, 1, "MON 1", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 1 1"));
    EXPECT_THAT(log("q"), ElementsAre("database 1 1 1"));

    send("p", "RU 1");
    ASSERT_TRUE(engine->rename(1, 0, 3, "CAM 3", error));
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_THAT(log("q"), ElementsAre("database 1 0 3"));

    // Registered again after unregistering: told once.
    send("p", "RR 1 1 1");
    ASSERT_TRUE(engine->rename(1, 0, 4, "CAM 4", error));
    EXPECT_THAT(log("p"), ElementsAre("database 1 0 4"));
    EXPECT_THAT(log("q"), ElementsAre("database 1 0 4"));
}

}  // namespace
