// timer_queue on its own: which tick comes when, and in what order.
#include "quon/engine/timer_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using quon::timer_queue;

// One tick as "due:owner/id", to compare whole runs at a glance.
std::string text(const timer_queue::tick& t) {
    return std::to_string(t.due) + ":" + std::to_string(t.owner) + "/" + std::to_string(t.id);
}

// Every tick due up to `target`, in the order the queue gives them.
std::vector<std::string> popAll(timer_queue& queue, uint64_t target) {
    std::vector<std::string> ticks;
    while (const auto t = queue.popDue(target)) ticks.push_back(text(*t));
    return ticks;
}

struct start_call {
    uint64_t owner;
    int id;
    int interval;
    uint64_t now;
};

struct order_case {
    const char* name;
    std::vector<start_call> starts;
    uint64_t until;
    std::vector<std::string> ticks;
};

// Named, so that a test's name carries no bytes of its case.
void PrintTo(const order_case& c, std::ostream* out) { *out << c.name; }

class TimerQueueOrder : public ::testing::TestWithParam<order_case> {};

TEST_P(TimerQueueOrder, TicksComeByDueTimeThenOwnerThenId) {
    timer_queue queue;
    for (const start_call& s : GetParam().starts) queue.start(s.owner, s.id, s.interval, s.now);
    EXPECT_EQ(popAll(queue, GetParam().until), GetParam().ticks);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerQueueOrder,
    ::testing::Values(order_case{"OneTimerRepeats", {{1, 7, 100, 0}}, 300, {"100:1/7", "200:1/7", "300:1/7"}},
                      order_case{"NothingDueYet", {{1, 7, 100, 0}}, 99, {}},
                      order_case{"StartedLaterIsDueLater", {{1, 1, 100, 50}}, 250, {"150:1/1", "250:1/1"}},
                      order_case{"EarlierDueFirstWhateverTheOwner",
                                 {{1, 1, 30, 0}, {2, 1, 20, 0}},
                                 60,
                                 {"20:2/1", "30:1/1", "40:2/1", "60:1/1", "60:2/1"}},
                      // Started in the other order: the older owner still hears first.
                      order_case{"SameDueOlderOwnerFirst",
                                 {{5, 1, 10, 0}, {2, 1, 10, 0}},
                                 20,
                                 {"10:2/1", "10:5/1", "20:2/1", "20:5/1"}},
                      order_case{"SameDueAndOwnerLowerIdFirst",
                                 {{3, 9, 10, 0}, {3, 4, 10, 0}, {3, -1, 10, 0}},
                                 10,
                                 {"10:3/-1", "10:3/4", "10:3/9"}},
                      order_case{"SameIdOfTwoOwnersAreTwoTimers",
                                 {{1, 1, 10, 0}, {2, 1, 15, 0}},
                                 30,
                                 {"10:1/1", "15:2/1", "20:1/1", "30:1/1", "30:2/1"}}),
    [](const ::testing::TestParamInfo<order_case>& info) { return info.param.name; });

TEST(TimerQueue, RestartingATimerReplacesItsDueTimeAndInterval) {
    timer_queue queue;
    queue.start(1, 1, 100, 0);
    queue.start(1, 1, 30, 50);
    EXPECT_EQ(queue.nextDue(), 80u);
    EXPECT_EQ(popAll(queue, 140), (std::vector<std::string>{"80:1/1", "110:1/1", "140:1/1"}));
}

TEST(TimerQueue, AStoppedTimerNoLongerTicks) {
    timer_queue queue;
    queue.start(1, 1, 10, 0);
    queue.start(1, 2, 10, 0);
    queue.stop(1, 1);
    queue.stop(1, 99);  // never started: nothing happens
    queue.stop(4, 1);
    EXPECT_EQ(popAll(queue, 20), (std::vector<std::string>{"10:1/2", "20:1/2"}));
    queue.stop(1, 2);
    EXPECT_EQ(queue.nextDue(), std::nullopt);
    EXPECT_EQ(popAll(queue, 1000), std::vector<std::string>{});
}

TEST(TimerQueue, StopAllStopsOnlyThatOwnersTimers) {
    timer_queue queue;
    queue.start(1, 1, 10, 0);
    queue.start(2, 1, 10, 0);
    queue.start(2, 2, 5, 0);
    queue.stopAll(2);
    queue.stopAll(3);
    EXPECT_EQ(popAll(queue, 20), (std::vector<std::string>{"10:1/1", "20:1/1"}));
}

TEST(TimerQueue, ATimerStartedBetweenTicksIsSeenByTheNextPop) {
    timer_queue queue;
    queue.start(1, 1, 10, 0);
    const auto first = queue.popDue(100);
    ASSERT_TRUE(first);
    EXPECT_EQ(text(*first), "10:1/1");
    // As a component does when its timer fires: it starts another, due
    // before the first one's next tick.
    queue.start(2, 1, 5, first->due);
    queue.stop(1, 1);
    EXPECT_EQ(popAll(queue, 25), (std::vector<std::string>{"15:2/1", "20:2/1", "25:2/1"}));
}

TEST(TimerQueue, NextDueIsTheEarliestTimer) {
    timer_queue queue;
    EXPECT_EQ(queue.nextDue(), std::nullopt);
    queue.start(2, 1, 40, 0);
    queue.start(1, 1, 25, 10);
    EXPECT_EQ(queue.nextDue(), 35u);
    ASSERT_TRUE(queue.popDue(35));
    EXPECT_EQ(queue.nextDue(), 40u);
}

struct count_case {
    const char* name;
    std::vector<start_call> starts;
    uint64_t target;
    uint64_t limit;
    uint64_t ticks;
};

void PrintTo(const count_case& c, std::ostream* out) { *out << c.name; }

class TimerQueueCount : public ::testing::TestWithParam<count_case> {};

TEST_P(TimerQueueCount, TicksUntilCountsEveryRepeatUpToTheTarget) {
    timer_queue queue;
    for (const start_call& s : GetParam().starts) queue.start(s.owner, s.id, s.interval, s.now);
    const uint64_t counted = queue.ticksUntil(GetParam().target, GetParam().limit);
    if (GetParam().ticks > GetParam().limit) {
        EXPECT_GT(counted, GetParam().limit);
    } else {
        EXPECT_EQ(counted, GetParam().ticks);
        // What it counts is what popping delivers.
        EXPECT_EQ(popAll(queue, GetParam().target).size(), counted);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerQueueCount,
                         ::testing::Values(count_case{"None", {}, 1000, 10, 0},
                                           count_case{"BeforeTheFirstTick", {{1, 1, 100, 0}}, 99, 10, 0},
                                           count_case{"OnTheTickItself", {{1, 1, 100, 0}}, 100, 10, 1},
                                           count_case{"TwoTimers", {{1, 1, 10, 0}, {2, 3, 30, 0}}, 95, 100, 9 + 3},
                                           count_case{"PastTheLimit", {{1, 1, 1, 0}}, 1000, 10, 1000},
                                           count_case{
                                               "PastTheLimitAcrossOwners", {{1, 1, 2, 0}, {2, 1, 2, 0}}, 12, 10, 12}),
                         [](const ::testing::TestParamInfo<count_case>& info) { return info.param.name; });

TEST(TimerQueue, AJumpMakesEveryTimerDueOneIntervalAfterIt) {
    timer_queue queue;
    queue.start(1, 1, 10, 0);
    queue.start(2, 1, 25, 0);
    queue.start(2, 2, 10, 3);
    queue.restartAll(1000);
    EXPECT_EQ(queue.ticksUntil(1000, 100), 0u) << "the ticks jumped over are gone";
    EXPECT_EQ(popAll(queue, 1025),
              (std::vector<std::string>{"1010:1/1", "1010:2/2", "1020:1/1", "1020:2/2", "1025:2/1"}));
}

TEST(TimerQueue, AStoppedTimerStaysStoppedThroughAJump) {
    timer_queue queue;
    queue.start(1, 1, 10, 0);
    queue.start(1, 2, 10, 0);
    queue.stop(1, 2);
    queue.restartAll(500);
    EXPECT_EQ(popAll(queue, 520), (std::vector<std::string>{"510:1/1", "520:1/1"}));
}

}  // namespace
