// What the routers on the network share: labels made safe to show, the
// waits between attempts to reach a router, and what a connection holds
// and lets through to its listener.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "quon/routers/held_state.h"
#include "quon/routers/label_text.h"
#include "quon/routers/router_connection.h"
#include "quon/tcp/retry_backoff.h"

namespace act = quon::routers::act;
using quon::routers::cleanLabel;
using quon::routers::held_state;
using quon::tcp::retry_backoff;
using std::chrono::milliseconds;

namespace {

struct label_case {
    std::string raw;
    std::string text;
    bool repaired;
};

class LabelText : public testing::TestWithParam<label_case> {};

TEST_P(LabelText, ReadsUtf8OrWindows1252AndReplacesControls) {
    const quon::routers::cleaned_label cleaned = cleanLabel(GetParam().raw);
    EXPECT_EQ(cleaned.text, GetParam().text);
    EXPECT_EQ(cleaned.repaired, GetParam().repaired);
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelText,
                         testing::Values(label_case{"Camera 1", "Camera 1", false},
                                         label_case{"CAM 1   ", "CAM 1", false},
                                         label_case{std::string("VT\0\0", 4), "VT", false}, label_case{"", "", false},
                                         label_case{"Caf\xC3\xA9", "Caf\xC3\xA9", false},            // é
                                         label_case{"\xE2\x82\xAC 5", "\xE2\x82\xAC 5", false},      // €
                                         label_case{"\xF0\x9F\x8E\xA5", "\xF0\x9F\x8E\xA5", false},  // four bytes
                                         label_case{"a\x01"
                                                    "b",
                                                    "a?b", true},
                                         label_case{"tab\there", "tab?here", true}, label_case{"del\x7F", "del?", true},
                                         // Not UTF-8: the whole label is Windows-1252.
                                         label_case{"Caf\xE9", "Caf\xC3\xA9", true},
                                         label_case{"\xC3", "\xC3\x83", true},             // cut short
                                         label_case{"\xC0\xAF", "\xC3\x80\xC2\xAF", true},  // overlong
                                         label_case{"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC", true},  // surrogate
                                         label_case{"\xF4\x90\x80\x80", "\xC3\xB4?\xE2\x82\xAC\xE2\x82\xAC", true},
                                         label_case{"\xFF\xFE", "\xC3\xBF\xC3\xBE", true}));

TEST(RetryBackoff, TheFirstWaitIsWithinTheFirstInterval) {
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        retry_backoff backoff(milliseconds(1000), milliseconds(30000), seed);
        const milliseconds wait = backoff.next();
        EXPECT_GT(wait, milliseconds(500));
        EXPECT_LE(wait, milliseconds(1000));
    }
}

TEST(RetryBackoff, DoublesUpToTheCap) {
    retry_backoff backoff(milliseconds(1000), milliseconds(30000), 7);
    const long long ceilings[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
    for (const long long ceiling : ceilings) {
        const milliseconds wait = backoff.next();
        EXPECT_GT(wait.count(), ceiling / 2);
        EXPECT_LE(wait.count(), ceiling);
    }
}

TEST(RetryBackoff, ResetStartsOver) {
    retry_backoff backoff(milliseconds(100), milliseconds(1000), 3);
    for (int i = 0; i < 10; ++i) backoff.next();
    backoff.reset();
    EXPECT_LE(backoff.next(), milliseconds(100));
}

TEST(RetryBackoff, TheSameSeedDrawsTheSameWaits) {
    retry_backoff a(milliseconds(1000), milliseconds(30000), 42);
    retry_backoff b(milliseconds(1000), milliseconds(30000), 42);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.next(), b.next());
}

TEST(RetryBackoff, WaitsAreSpreadNotInStep) {
    std::set<long long> firstWaits;
    for (std::uint32_t seed = 1; seed <= 20; ++seed)
        firstWaits.insert(retry_backoff(milliseconds(1000), milliseconds(30000), seed).next().count());
    EXPECT_GT(firstWaits.size(), 10u);
}

TEST(HeldState, EveryCrosspointIsNewsSayingWhetherItChangedAndAKeepAliveAnswerOnlyWhenItChanges) {
    using news = held_state::news;
    held_state held;
    EXPECT_EQ(held.source(1), std::nullopt);
    EXPECT_EQ(held.take(act::crosspoint{1, 4, false}), news::changed);
    EXPECT_EQ(held.take(act::crosspoint{1, 4, false}), news::same);
    EXPECT_EQ(held.take(act::crosspoint{1, 4, true}), news::none);
    EXPECT_EQ(held.take(act::crosspoint{1, 5, true}), news::changed);
    EXPECT_EQ(held.source(1), 5);
    EXPECT_EQ(held.take(act::crosspoint{2, 5, true}), news::changed) << "nothing held yet for destination 2";
    held.newConnection();
    EXPECT_EQ(held.take(act::crosspoint{1, 5, false}), news::same) << "routes are kept across connections";
}

TEST(HeldState, ALabelIsNewsOnlyWhenItDiffersAcrossConnections) {
    held_state held;
    EXPECT_TRUE(held.take(act::label{quon::routers::source_labels, 3, "CAM 3"}));
    EXPECT_FALSE(held.take(act::label{quon::routers::source_labels, 3, "CAM 3"}));
    held.newConnection();
    EXPECT_FALSE(held.take(act::label{quon::routers::source_labels, 3, "CAM 3"}));
    EXPECT_TRUE(held.take(act::label{quon::routers::destination_labels, 3, "CAM 3"}));
    EXPECT_TRUE(held.take(act::label{quon::routers::source_labels, 3, "CAM 3 WIDE"}));
    EXPECT_FALSE(held.take(act::label{2, 1, "no such database"}));
    EXPECT_EQ(*held.label(quon::routers::source_labels, 3), "CAM 3 WIDE");
    EXPECT_EQ(held.label(quon::routers::source_labels, 4), nullptr);
    EXPECT_EQ(held.label(2, 1), nullptr);
}

TEST(HeldState, AProblemIsNewsOncePerCauseAndConnection) {
    held_state held;
    EXPECT_TRUE(held.take(act::problem{"malformed", "a malformed line in INPUT LABELS:"}));
    EXPECT_FALSE(held.take(act::problem{"malformed", "a malformed line in OUTPUT LABELS:"}));
    EXPECT_TRUE(held.take(act::problem{"NAK", "the router refused a request (NAK)"}));
    held.newConnection();
    EXPECT_TRUE(held.take(act::problem{"malformed", "a malformed line in INPUT LABELS:"}));
}

TEST(HeldState, WhatDidNotComeIsNewsOncePerTextAndConnection) {
    held_state held;
    const act::missing sources{"the sources' labels (path 0.2.2) did not come; showing numbers"};
    EXPECT_TRUE(held.take(sources));
    EXPECT_FALSE(held.take(sources));
    EXPECT_TRUE(held.take(act::missing{"the targets' labels (path 0.2.1) did not come; showing numbers"}));
    EXPECT_TRUE(held.take(act::problem{sources.text, sources.text})) << "a problem of the same words is another thing";
    held.newConnection();
    EXPECT_TRUE(held.take(sources));
}

}  // namespace
