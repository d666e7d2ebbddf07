// Component timers on the engine's clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_engine_fixture.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using namespace quon;

namespace {

TEST_F(HostEngine, TimersTickOnTheVirtualClockUntilStopped) {
    send("p", "ET 1 100");
    send("q", "ET 7 250");
    ASSERT_TRUE(engine->advance(99, error)) << error;
    EXPECT_THAT(log("p"), IsEmpty());
    ASSERT_TRUE(engine->advance(401, error)) << error;
    EXPECT_EQ(engine->now(), 500u);
    EXPECT_THAT(log("p"), ElementsAre("timer 1", "timer 1", "timer 1", "timer 1", "timer 1"));
    EXPECT_THAT(log("q"), ElementsAre("timer 7", "timer 7"));
    send("p", "ET 1");
    send("q", "ET 7 50");  // restarts with the new interval
    ASSERT_TRUE(engine->advance(100, error)) << error;
    EXPECT_THAT(log("p"), IsEmpty());
    EXPECT_THAT(log("q"), ElementsAre("timer 7", "timer 7"));
    trace.clear();
    send("q", "ET 7 0");
    EXPECT_THAT(trace, testing::Contains(HasSubstr("not a positive number")));
}

}  // namespace
