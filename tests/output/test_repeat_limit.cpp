// The same warning about the same display: once a minute, with the count.
#include <gtest/gtest.h>

#include "quon/output/repeat_limit.h"

namespace {

using namespace std::chrono_literals;
using clock_point = std::chrono::steady_clock::time_point;

TEST(RepeatLimit, SaysARepeatOnceAMinuteWithTheCountOfThoseLeftOut) {
    quon::repeat_limit limit;
    const clock_point start{};
    EXPECT_EQ(limit.admit("mon1", "no router 1", start), "no router 1");
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(limit.admit("mon1", "no router 1", start + i * 10s), std::nullopt);
    EXPECT_EQ(limit.admit("mon1", "no router 1", start + 60s), "no router 1 (repeated 5 times since)");
    EXPECT_EQ(limit.admit("mon1", "no router 1", start + 61s), std::nullopt);
    EXPECT_EQ(limit.admit("mon1", "no router 1", start + 125s), "no router 1 (repeated 1 times since)");
    EXPECT_EQ(limit.admit("mon1", "no router 1", start + 200s), "no router 1");
}

TEST(RepeatLimit, AnotherDisplayOrAnotherWarningIsSaidAtOnce) {
    quon::repeat_limit limit;
    const clock_point start{};
    EXPECT_TRUE(limit.admit("mon1", "no router 1", start));
    EXPECT_TRUE(limit.admit("mon2", "no router 1", start + 1s));
    EXPECT_TRUE(limit.admit("mon1", "no router 2", start + 2s));
    EXPECT_FALSE(limit.admit("mon2", "no router 1", start + 3s));
}

TEST(RepeatLimit, ForgetsWarningsItNoLongerNeedsSoItsMemoryStaysBounded) {
    quon::repeat_limit limit;
    const clock_point start{};
    for (int i = 0; i < 5000; ++i) limit.admit("mon1", "no router " + std::to_string(i), start);
    EXPECT_TRUE(limit.admit("mon1", "no router 7", start + 61s)) << "an old warning is said again";
    for (int i = 0; i < 4000; ++i) limit.admit("mon2", "lost " + std::to_string(i), start + 120s);
    EXPECT_LT(limit.remembered(), 4100u);
    // What it still needs is kept: a repeat within the minute is held back.
    EXPECT_FALSE(limit.admit("mon2", "lost 3", start + 121s));
}

}  // namespace
