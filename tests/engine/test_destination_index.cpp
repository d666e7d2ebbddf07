// destination_index on its own: who hears of a destination, who of a
// router's names, and in what order.
#include "quon/engine/destination_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using quon::destination_index;

// The watchers of one destination, in the order the index visits them.
std::vector<uint64_t> of(const destination_index& index, int device, int destination) {
    std::vector<uint64_t> out;
    index.forEachWatcher(device, destination, [&out](uint64_t w) { out.push_back(w); });
    return out;
}

// The watchers of any destination of a router.
std::vector<uint64_t> ofRouter(const destination_index& index, int device) {
    std::vector<uint64_t> out;
    index.forEachWatcherOf(device, [&out](uint64_t w) { out.push_back(w); });
    return out;
}

std::vector<int> watchedDestinations(const destination_index& index, int device) {
    std::vector<int> out;
    index.forEachWatchedDestination(device, [&out](int d) { out.push_back(d); });
    return out;
}

using list = std::vector<uint64_t>;

// One "RR" or "RU" of a watcher.
struct call {
    enum { watch, add, unwatch, gone } what;
    uint64_t watcher;
    int first = 0, last = 0;  // of router 1
};

struct watch_case {
    const char* name;
    std::vector<call> calls;
    std::vector<list> byDestination;  // watchers of destinations 1..4 of router 1 (of 4)
    list ofRouter;                    // watchers of any of them
};

// Named, so that a test's name carries no bytes of its case.
void PrintTo(const watch_case& c, std::ostream* out) { *out << c.name; }

class DestinationIndexWatch : public ::testing::TestWithParam<watch_case> {};

TEST_P(DestinationIndexWatch, EachDestinationHearsItsWatchersInCreationOrder) {
    destination_index index;
    index.setRouter(1, 4);
    for (const call& c : GetParam().calls) {
        switch (c.what) {
            case call::watch: index.watch(c.watcher, 1, c.first, c.last, false); break;
            case call::add: index.watch(c.watcher, 1, c.first, c.last, true); break;
            case call::unwatch: index.unwatch(c.watcher, 1); break;
            case call::gone: index.unwatchAll(c.watcher); break;
        }
    }
    for (int destination = 1; destination <= 4; ++destination)
        EXPECT_EQ(of(index, 1, destination), GetParam().byDestination[static_cast<size_t>(destination - 1)])
            << "destination " << destination;
    EXPECT_EQ(ofRouter(index, 1), GetParam().ofRouter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationIndexWatch,
    ::testing::Values(
        watch_case{"OneWatcherOneDestination", {{call::watch, 1, 2, 2}}, {{}, {1}, {}, {}}, {1}},
        watch_case{"ARangeCutToTheRouter", {{call::watch, 1, -5, 99}}, {{1}, {1}, {1}, {1}}, {1}},
        watch_case{"AnEmptyRangeWatchesNothing", {{call::watch, 1, 3, 2}}, {{}, {}, {}, {}}, {}},
        // Watching in the other order: the older component still hears first.
        watch_case{"OlderWatchersFirst",
                   {{call::watch, 7, 1, 2}, {call::watch, 3, 2, 3}, {call::watch, 5, 2, 2}},
                   {{7}, {3, 5, 7}, {3}, {}},
                   {3, 5, 7}},
        watch_case{"WatchingReplacesWhatItWatchedThere",
                   {{call::watch, 1, 1, 2}, {call::watch, 1, 3, 4}},
                   {{}, {}, {1}, {1}},
                   {1}},
        watch_case{"AddingKeepsWhatItWatchedAndTakesEachOnce",
                   {{call::watch, 1, 1, 2}, {call::add, 1, 2, 3}},
                   {{1}, {1}, {1}, {}},
                   {1}},
        watch_case{"UnwatchingLeavesTheOthers",
                   {{call::watch, 1, 1, 2}, {call::watch, 2, 2, 2}, {call::unwatch, 1}},
                   {{}, {2}, {}, {}},
                   {2}},
        watch_case{"AComponentGoneWatchesNothing",
                   {{call::watch, 1, 1, 4}, {call::watch, 2, 4, 4}, {call::gone, 1}, {call::gone, 9}},
                   {{}, {}, {}, {2}},
                   {2}},
        watch_case{"WatchingAgainAfterUnwatchingIsHeardOnce",
                   {{call::watch, 1, 1, 1}, {call::unwatch, 1}, {call::watch, 1, 1, 1}, {call::add, 1, 1, 1}},
                   {{1}, {}, {}, {}},
                   {1}}),
    [](const ::testing::TestParamInfo<watch_case>& info) { return info.param.name; });

TEST(DestinationIndex, RoutersAreApart) {
    destination_index index;
    index.setRouter(1, 4);
    index.setRouter(2, 4);
    index.watch(1, 1, 1, 1, false);
    index.watch(1, 2, 2, 2, false);
    index.watch(2, 2, 1, 1, false);
    EXPECT_EQ(of(index, 1, 1), list{1});
    EXPECT_EQ(of(index, 2, 1), list{2});
    EXPECT_EQ(ofRouter(index, 2), (list{1, 2}));
    index.watch(1, 1, 3, 3, false);  // replaces on router 1 only
    EXPECT_EQ(of(index, 2, 2), list{1});
    index.unwatch(1, 2);
    EXPECT_EQ(of(index, 1, 3), list{1});
    EXPECT_EQ(ofRouter(index, 2), list{2});
    EXPECT_EQ(index.firstRouter(1), 1);
    EXPECT_EQ(index.firstRouter(2), 2);
    EXPECT_EQ(index.firstRouter(3), std::nullopt);
}

TEST(DestinationIndex, AnUnknownRouterOrDestinationHasNoWatchers) {
    destination_index index;
    index.setRouter(1, 2);
    index.watch(1, 5, 1, 1, false);  // no router 5: nothing
    EXPECT_EQ(index.firstRouter(1), std::nullopt);
    EXPECT_FALSE(index.watched(5));
    index.watch(1, 1, 1, 2, false);
    for (int destination : {0, -1, 3, 1000}) EXPECT_EQ(of(index, 1, destination), list{}) << destination;
    EXPECT_EQ(of(index, 5, 1), list{});
    EXPECT_EQ(ofRouter(index, 5), list{});
}

TEST(DestinationIndex, WatchedSaysWhetherAnyoneStillWatchesTheRouter) {
    destination_index index;
    index.setRouter(1, 4);
    EXPECT_FALSE(index.watched(1));
    index.watch(1, 1, 1, 1, false);
    index.watch(2, 1, 2, 2, false);
    EXPECT_TRUE(index.watched(1));
    index.unwatch(1, 1);
    EXPECT_TRUE(index.watched(1));
    index.unwatchAll(2);
    EXPECT_FALSE(index.watched(1));
    index.watch(3, 1, 3, 2, false);  // an empty range
    EXPECT_FALSE(index.watched(1));
}

TEST(DestinationIndex, ARouterMadeAnewKeepsItsWatchersAndCutsNewWatchesToItsSize) {
    destination_index index;
    index.setRouter(1, 4);
    index.watch(1, 1, 3, 4, false);
    index.watch(2, 1, 1, 1, false);
    index.setRouter(1, 2);  // smaller now
    EXPECT_EQ(of(index, 1, 4), list{1}) << "a watcher beyond the new size keeps its watch";
    EXPECT_EQ(watchedDestinations(index, 1), (std::vector<int>{1, 3, 4}));
    index.watch(3, 1, 1, 4, false);
    EXPECT_EQ(of(index, 1, 2), list{3});
    EXPECT_EQ(of(index, 1, 3), list{1});
    index.setRouter(1, 8);  // larger
    index.watch(3, 1, 8, 8, true);
    EXPECT_EQ(of(index, 1, 8), list{3});
    EXPECT_EQ(ofRouter(index, 1), (list{1, 2, 3}));
}

TEST(DestinationIndex, ARemovedRouterForgetsItsWatches) {
    destination_index index;
    index.setRouter(1, 4);
    index.setRouter(2, 4);
    index.watch(1, 1, 1, 1, false);
    index.watch(1, 2, 1, 1, false);
    index.removeRouter(1);
    EXPECT_EQ(of(index, 1, 1), list{});
    EXPECT_EQ(index.firstRouter(1), 2);
    index.setRouter(1, 4);
    EXPECT_EQ(of(index, 1, 1), list{}) << "a router added again starts without watchers";
}

// A wall torn down in creation order: every visit between still sees
// exactly the components that watch.
TEST(DestinationIndex, AWallTornDownKeepsTellingTheRestOfItsNames) {
    destination_index index;
    index.setRouter(1, 100);
    for (uint64_t w = 1; w <= 100; ++w) index.watch(w, 1, static_cast<int>(w), static_cast<int>(w), false);
    for (uint64_t w = 1; w <= 100; ++w) {
        index.unwatchAll(w);
        const list rest = ofRouter(index, 1);
        ASSERT_EQ(rest.size(), 100 - w);
        if (!rest.empty()) {
            EXPECT_EQ(rest.front(), w + 1);
        }
    }
    EXPECT_FALSE(index.watched(1));
}

}  // namespace
