// The Quartz client as tables, without sockets: what it sends and reports
// for the bytes a router sends and the time that passes. Each freedom a
// Quartz router has is a case: names with their number or without, padded
// or long; numbers padded with zeros; CR LF line ends; several messages in
// a read or one byte a read; updates of other levels and of several;
// destinations it does not answer; silence; a restart; garbage and
// over-long lines; tie-line sources.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "client_table.h"
#include "docs_cases.h"
#include "quon/routers/quartz/quartz_client.h"

using namespace std::chrono_literals;
using quon::test::bytesIn;
using quon::test::client_table;
using quon::test::connects;
using quon::test::keepAliveDue;
using quon::test::lines;
using quon::test::play;
using quon::test::resyncDue;
using quon::test::timePasses;
namespace routers = quon::routers;

namespace {

// What the client sent, as lines: one per request, and a run of the same
// request over consecutive numbers as one ("RS 1..4", "IV 1..3").
lines describeSent(const std::string& sent) {
    lines out;
    std::string prefix;
    int first = 0, last = 0;
    const auto flush = [&] {
        if (prefix.empty()) return;
        out.push_back(prefix + " " + std::to_string(first) + (last > first ? ".." + std::to_string(last) : ""));
        prefix.clear();
    };
    std::size_t at = 0;
    while (at < sent.size()) {
        const std::size_t end = sent.find('\r', at);
        if (end == std::string::npos) {
            flush();
            out.push_back("unended " + sent.substr(at));
            break;
        }
        const std::string request = sent.substr(at + 1, end - at - 1);
        at = end + 1;
        const std::size_t digits = request.find_first_of("0123456789");
        const bool numbered =
            (request.rfind("RS", 0) == 0 || request.rfind("RD", 0) == 0 || request.rfind("I", 0) == 0) &&
            digits != std::string::npos && request.find(',') == std::string::npos;
        if (!numbered) {
            flush();
            out.push_back("." + request);
            continue;
        }
        const std::string head = request.substr(0, digits);
        const int number = std::stoi(request.substr(digits));
        if (head == prefix && number == last + 1) {
            last = number;
            continue;
        }
        flush();
        prefix = head;
        first = last = number;
    }
    flush();
    return out;
}

// The device file's sizes, and the client's own keys.
struct quartz_config {
    routers::router_settings settings;
    routers::quartz_options options;
};

quartz_config sized(int sources, int destinations) {
    quartz_config config;
    config.settings.sources = sources;
    config.settings.destinations = destinations;
    config.options.answerWait = 1000ms;
    return config;
}

std::string names(bool sources, int count) {
    std::string bytes;
    for (int n = 1; n <= count; ++n)
        bytes += std::string(sources ? ".RAS" : ".RAD") + std::to_string(n) + "," + (sources ? "IN " : "OUT ") +
                 std::to_string(n) + "\r";
    return bytes;
}

std::string answers(int count, char level = 'V') {
    std::string bytes;
    for (int d = 1; d <= count; ++d)
        bytes += std::string(".A") + level + std::to_string(d) + "," + std::to_string(d) + "\r";
    return bytes;
}

const lines connect_4_by_3 = {"RS 1..4", "RD 1..3", "IV 1..3", "timer +1000 ms"};

class QuartzClient : public testing::Test {
protected:
    // A router of 4 sources and 3 destinations, read to up.
    void bringUp() {
        play(table, {
                        {"connect", connects(), connect_4_by_3},
                        {"names and routes",
                         bytesIn(names(true, 4) + names(false, 3) + answers(3)),
                         {"label source 1 IN 1", "label source 2 IN 2", "label source 3 IN 3", "label source 4 IN 4",
                          "label destination 1 OUT 1", "label destination 2 OUT 2", "label destination 3 OUT 3",
                          "crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "up 4 3"}},
                    });
    }

    const quartz_config config = sized(4, 3);
    routers::quartz_client client{config.settings, config.options};
    client_table table{client, describeSent};
};

TEST_F(QuartzClient, ReadsEveryNameAndRouteOfTheDeviceFilesSizes) {
    bringUp();
    EXPECT_EQ(*table.held().label(routers::source_labels, 4), "IN 4");
    EXPECT_EQ(table.held().source(3), 3);
}

// Routers of other makes and firmware: the same state, however it is sent.
struct style_case {
    const char* name;
    std::string conversation;
    std::size_t piece;  // bytes a read; 0: all in one
};

void PrintTo(const style_case& c, std::ostream* out) { *out << c.name; }

class QuartzClientStyles : public testing::TestWithParam<style_case> {};

TEST_P(QuartzClientStyles, EveryStyleGivesTheSameNamesAndRoutes) {
    const style_case& c = GetParam();
    const quartz_config config = sized(2, 2);
    routers::quartz_client client(config.settings, config.options);
    client_table table(client, describeSent);
    EXPECT_EQ(table.connect(), (lines{"RS 1..2", "RD 1..2", "IV 1..2", "timer +1000 ms"}));
    const lines seen = c.piece == 0 ? table.in(c.conversation) : table.inPieces(c.conversation, c.piece);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "up 2 2");
    EXPECT_THAT(seen, testing::Not(testing::Contains(testing::StartsWith("problem"))));
    EXPECT_EQ(*table.held().label(routers::source_labels, 1), "CAM 1");
    EXPECT_EQ(*table.held().label(routers::source_labels, 2), "Caméra deux grand angle");
    EXPECT_EQ(*table.held().label(routers::destination_labels, 1), "MON 1");
    EXPECT_EQ(*table.held().label(routers::destination_labels, 2), "MON 2");
    EXPECT_EQ(table.held().source(1), 2);
    EXPECT_EQ(table.held().source(2), 1);
}

const std::string plain = ".RAS1,CAM 1\r.RAS2,Caméra deux grand angle\r.RAD1,MON 1\r.RAD2,MON 2\r.AV1,2\r.AV2,1\r";

INSTANTIATE_TEST_SUITE_P(
    Routers, QuartzClientStyles,
    testing::Values(
        style_case{"AllInOneRead", plain, 0}, style_case{"OneByteARead", plain, 1},
        style_case{"ThreeBytesARead", plain, 3},
        style_case{"NamesPaddedToEightAndNumbersToThree",
                   ".RAS001,CAM 1   \r.RAS002,Caméra deux grand angle\r.RAD001,MON 1   \r.RAD002,MON 2   \r"
                   ".AV001,002\r.AV002,001\r",
                   0},
        style_case{"NamesWithoutTheirNumbers",
                   ".RASCAM 1\r.RASCaméra deux grand angle\r.RADMON 1\r.RADMON 2\r.AV1,2\r.AV2,1\r", 0},
        style_case{"CrLfLineEnds",
                   ".RAS1,CAM 1\r\n.RAS2,Caméra deux grand angle\r\n.RAD1,MON 1\r\n.RAD2,MON 2\r\n.AV1,2\r\n.AV2,1\r\n",
                   2},
        style_case{"AnswersInAnyOrderWithPushesOfOtherLevelsBetween",
                   ".AV2,1\r.UA1,7\r.RAD2,MON 2\r.UBC2,9\r.RAS2,Caméra deux grand angle\r.AV1,2\r.RAS1,CAM "
                   "1\r.RAD1,MON 1\r",
                   0},
        style_case{"AnUpdateOfSeveralLevelsBeforeTheAnswers", ".UVAB1,2\r" + plain, 0},
        style_case{"AListAnswerOfBothRoutes",
                   ".RAS1,CAM 1\r.RAS2,Caméra deux grand angle\r.RAD1,MON 1\r.RAD2,MON 2\r.AV1,2V2,1\r", 0}),
    [](const testing::TestParamInfo<style_case>& info) { return std::string(info.param.name); });

TEST_F(QuartzClient, DestinationsTheRouterDoesNotAnswerAreReportedAfterAnswerWaitAndTheLinkGoesUp) {
    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE("connection " + std::to_string(connection));
        play(table, {
                        {"connect", connects(), connect_4_by_3},
                        {"a while", timePasses(500ms), {}},
                        {"names, two answers", bytesIn(names(true, 3) + names(false, 3) + ".AV1,4\r.AV3,2\r"),
                         connection == 1
                             ? lines{"label source 1 IN 1", "label source 2 IN 2", "label source 3 IN 3",
                                     "label destination 1 OUT 1", "label destination 2 OUT 2",
                                     "label destination 3 OUT 3", "crosspoint 1 4", "crosspoint 3 2", "timer +1000 ms"}
                             : lines{"crosspoint 1 4", "crosspoint 3 2", "timer +1000 ms"}},
                        {"short of answerWait", timePasses(999ms), {}},
                        {"answerWait",
                         timePasses(1ms),
                         {"problem the router named 3 of the 4 sources the device file gives (DatabaseSize_0)",
                          "problem the router answered 2 of the 3 destinations interrogated on level V", "up 4 3"}},
                        {"a late answer", bytesIn(".AV2,2\r"), {"crosspoint 2 2"}},
                    });
        table.closed();
    }
}

TEST_F(QuartzClient, ARouterSilentAtConnectIsDownAndRetried) {
    play(table, {
                    {"connect", connects(), connect_4_by_3},
                    {"nothing for answerWait", timePasses(1000ms), {"fail no answer within 1000 ms (AnswerWait)"}},
                    {"bytes after the failure", bytesIn(answers(3)), {}},
                });
    play(table, {{"the retry", connects(), connect_4_by_3}});
}

TEST_F(QuartzClient, FollowsUpdatesOfItsLevelAloneAndRenamesUnasked) {
    bringUp();
    play(table, {
                    {"an operator's route", bytesIn(".UV002,004\r"), {"crosspoint 2 4"}},
                    {"another level's", bytesIn(".UA002,001\r"), {}},
                    {"several levels with its own", bytesIn(".UVAB003,001\r"), {"crosspoint 3 1"}},
                    {"several levels without it", bytesIn(".UAB003,004\r"), {}},
                    {"the same route pushed again", bytesIn(".UV002,004\r"), {"crosspoint 2 4"}},
                    {"a rename", bytesIn(".RAS4,CAM 4 WIDE\r"), {"label source 4 CAM 4 WIDE"}},
                    {"the same name again", bytesIn(".RAS4,CAM 4 WIDE\r"), {}},
                });
}

TEST_F(QuartzClient, OtherLevelsAreFollowedByTheirLetter) {
    quartz_config config = sized(1, 2);
    config.options.level = 'B';
    routers::quartz_client levelB(config.settings, config.options);
    client_table t(levelB, describeSent);
    play(t, {
                {"connect", connects(), {"RS 1", "RD 1..2", "IB 1..2", "timer +1000 ms"}},
                {"answers of level V and B",
                 bytesIn(".RAS1,A\r.RAD1,X\r.RAD2,Y\r.AV1,1\r.AB1,1\r.AB2,1\r"),
                 {"label source 1 A", "label destination 1 X", "label destination 2 Y", "crosspoint 1 1",
                  "crosspoint 2 1", "up 1 2"}},
                {"an update of V", bytesIn(".UV1,1\r"), {}},
                {"an update of V and B", bytesIn(".UVB2,1\r"), {"crosspoint 2 1"}},
            });
    bool accepted = false;
    EXPECT_EQ(t.requestRoute(2, 1, &accepted), lines{".SB2,1"});
    EXPECT_TRUE(accepted);
}

TEST_F(QuartzClient, ALevelThatIsNotALetterFailsAtConnect) {
    quartz_config config = sized(1, 1);
    config.options.level = '3';
    routers::quartz_client wrong(config.settings, config.options);
    client_table t(wrong, describeSent);
    EXPECT_EQ(t.connect(), lines{"fail the level must be a letter from A to Z, not '3'"});
}

TEST_F(QuartzClient, KeepAliveIsTheTestRequest) {
    bringUp();
    play(table, {
                    {"keep-alive", keepAliveDue(), {".#01"}},
                    {"its answer", bytesIn(".A\r"), {"answered"}},
                });
}

TEST_F(QuartzClient, TheResyncReadsEverythingAndReportsOnlyWhatDiffers) {
    bringUp();
    play(table,
         {
             {"resync", resyncDue(), {"read starts", "RS 1..4", "RD 1..3", "IV 1..3", "timer +1000 ms"}},
             {"the same names but one, the same routes but one",
              bytesIn(names(true, 2) + ".RAS3,CAM 3\r.RAS4,IN 4\r" + names(false, 3) + ".AV1,1\r.AV2,4\r.AV3,3\r"),
              {"label source 3 CAM 3", "crosspoint 2 4", "read ends"}},
             {"nothing more", timePasses(5000ms), {}},
         });
}

// Names and then not one route: the router hung, or lost the interrogates.
// Ended, the read would show the names beside the routes of before (of the
// last connection, at connect), and the answers coming later one by one.
TEST_F(QuartzClient, NamesWithoutOneRouteAfterThemAreNoRead) {
    play(table,
         {
             {"connect", connects(), connect_4_by_3},
             {"the names alone",
              bytesIn(names(true, 4) + names(false, 3)),
              {"label source 1 IN 1", "label source 2 IN 2", "label source 3 IN 3", "label source 4 IN 4",
               "label destination 1 OUT 1", "label destination 2 OUT 2", "label destination 3 OUT 3"}},
             {"answerWait, and no route", timePasses(1000ms), {"fail no answer to the interrogates after the names"}},
         });
    table.closed();
    play(table,
         {
             {"the next connection", connects(), connect_4_by_3},
             {"names and routes",
              bytesIn(names(true, 4) + names(false, 3) + answers(3)),
              {"crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "up 4 3"}},
             {"resync", resyncDue(), {"read starts", "RS 1..4", "RD 1..3", "IV 1..3", "timer +1000 ms"}},
             {"a source renamed", bytesIn(".RAS3,CAM 3\r"), {"label source 3 CAM 3"}},
             {"answerWait, and no route", timePasses(1000ms), {"fail no answer to the interrogates after the names"}},
             {"the answers, late", bytesIn(answers(3)), {}},
         });
}

TEST_F(QuartzClient, ARouterThatSaysItRestartedIsReadAgain) {
    bringUp();
    play(table, {
                    {"power up", bytesIn("\r.P\r"), [] {
                         lines read = connect_4_by_3;
                         read.insert(read.begin(), "read starts");
                         return read;
                     }()},
                    {"its new state",
                     bytesIn(names(true, 4) + names(false, 3) + ".AV1,3\r.AV2,2\r.AV3,3\r"),
                     {"crosspoint 1 3", "read ends"}},
                });
}

TEST_F(QuartzClient, ARestartDuringTheFirstReadAsksAgain) {
    play(table, {
                    {"connect", connects(), connect_4_by_3},
                    {"power up, at once", bytesIn(".P\r"), {"RS 1..4", "RD 1..3", "IV 1..3"}},
                    {"everything",
                     bytesIn(names(true, 4) + names(false, 3) + answers(3)),
                     {"label source 1 IN 1", "label source 2 IN 2", "label source 3 IN 3", "label source 4 IN 4",
                      "label destination 1 OUT 1", "label destination 2 OUT 2", "label destination 3 OUT 3",
                      "crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "up 4 3"}},
                });
}

TEST_F(QuartzClient, GarbageIsReportedOncePerCauseAndTheClientCarriesOn) {
    bringUp();
    const std::string garbage = "login: " + std::string(".") + std::string(5000, 'x') + "\r.E\r.ZZ9\r.UV1\r" +
                                ".RAS2,BAD\x01\xFF\r.RAD9,PAST\r.UV9,1\r.RASNONUMBER\r";
    play(table,
         {
             {"garbage",
              bytesIn(garbage),
              {"problem bytes outside any message were skipped",
               "problem a message of more than 4096 bytes without its carriage return was dropped",
               "problem the router answered .E: it did not take a request (further refusals are not reported)",
               "problem an unknown message .ZZ9 (further unknown messages are not reported)",
               "problem a malformed message .UV1 (further malformed messages are not reported)",
               "problem source 2's name \"BAD\\x01\\xFF\" has control characters or bytes that are not UTF-8; shown "
               "as \"BAD?\xC3\xBF\"",
               "label source 2 BAD?\xC3\xBF",
               "problem the router named destination 9, past the 3 the device file gives (DatabaseSize_1); such "
               "names are not shown",
               "problem the router reported destination 9, past the 3 the device file gives (DatabaseSize_1); such "
               "routes are not followed",
               "problem a source name without its number that answers no request was dropped"}},
             {"the same garbage again", bytesIn(garbage), {}},
             {"a route", bytesIn(".UV1,4\r"), {"crosspoint 1 4"}},
         });
    table.closed();
    // A new connection reports again.
    table.connect();
    EXPECT_EQ(table.in("junk.E\r"),
              (lines{"problem bytes outside any message were skipped",
                     "problem the router answered .E: it did not take a request (further refusals are not reported)"}));
}

TEST_F(QuartzClient, AFloodOfGarbageFailsTheConnection) {
    bringUp();
    EXPECT_EQ(table.in(std::string(20000, 'x')),
              (lines{"problem bytes outside any message were skipped", "fail no valid message among 16384 bytes"}));
    EXPECT_EQ(table.in(".UV1,2\r"), lines{});
}

TEST_F(QuartzClient, ATielineSourceShowsItsSourceNumber) {
    bringUp();
    // 8194 is 0x2002: source 2 of level 2, through a tie-line.
    play(table, {{"a tie-line route", bytesIn(".UV001,8194\r"), {"crosspoint 1 2"}},
                 {"no source in the lower bits: as sent", bytesIn(".UV001,8192\r"), {"crosspoint 1 8192"}}});
}

TEST_F(QuartzClient, RequestsAreSentOnlyWhileUpAndWithinTheDeviceFilesSizes) {
    bool accepted = true;
    EXPECT_EQ(table.requestRoute(1, 2, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.poll(1, 3), lines{});
    bringUp();
    EXPECT_EQ(table.requestRoute(3, 4, &accepted), lines{".SV3,4"});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(table.held().source(3), 3);  // only the router's report changes it
    EXPECT_EQ(table.requestRoute(4, 1, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.requestRoute(1, 5, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.requestRoute(0, 1, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.poll(2, 9), (lines{"IV 2..3"}));
    // A poll's answer is news even when the route is the one held.
    EXPECT_EQ(table.in(".AV2,2\r"), lines{"crosspoint 2 2"});
    table.closed();
    EXPECT_EQ(table.requestRoute(1, 2, &accepted), lines{});
    EXPECT_FALSE(accepted);
}

TEST_F(QuartzClient, APollOpenWhenAResyncStartsKeepsItsAnswerNews) {
    bringUp();
    play(table, {
                    {"poll", [](client_table& t) { return t.poll(2, 2); }, {"IV 2"}},
                    {"resync", resyncDue(), {"read starts", "RS 1..4", "RD 1..3", "IV 1..3", "timer +1000 ms"}},
                    {"the poll's answer, the route held", bytesIn(".AV2,2\r"), {"crosspoint 2 2"}},
                    {"a resync's answer, the route held", bytesIn(".AV1,1\r"), {}},
                    {"the rest, and nothing more", bytesIn(names(true, 4) + names(false, 3) + ".AV3,3\r"), {"read ends"}},
                });
}

// What a step sent, timed and reported, without the labels and routes it
// reported.
std::function<lines(client_table&)> quietly(std::string bytes) {
    return [bytes](client_table& t) {
        lines seen = t.in(bytes);
        seen.erase(std::remove_if(seen.begin(), seen.end(),
                                  [](const std::string& line) {
                                      return line.rfind("label ", 0) == 0 || line.rfind("crosspoint ", 0) == 0;
                                  }),
                   seen.end());
        return seen;
    };
}

// A large router is read a window at a time: 256 requests unanswered at
// most, more as answers come, and the rest after answerWait where some
// never come.
TEST_F(QuartzClient, ALargeRouterIsReadAWindowAtATime) {
    const quartz_config config = sized(300, 100);
    routers::quartz_client large(config.settings, config.options);
    client_table t(large, describeSent);
    std::string sourcesBut200;
    for (int n = 129; n <= 300; ++n)
        if (n != 200) sourcesBut200 += ".RAS" + std::to_string(n) + ",IN " + std::to_string(n) + "\r";
    play(t, {
                {"connect", connects(), {"RS 1..256", "timer +1000 ms"}},
                {"half of them named", quietly(names(true, 127)), {}},
                {"one more: room for more", quietly(".RAS128,IN 128\r"), {"RS 257..300", "RD 1..84"}},
                {"a while", timePasses(500ms), {}},
                {"the rest of the sources but 200, and every destination",
                 quietly(sourcesBut200 + names(false, 100)),
                 {"RD 85..100", "IV 1..100", "timer +1000 ms"}},
                {"every route but the last", quietly(answers(99)), {}},
                {"answerWait",
                 timePasses(1000ms),
                 {"problem the router named 299 of the 300 sources the device file gives (DatabaseSize_0)",
                  "problem the router answered 99 of the 100 destinations interrogated on level V", "up 300 100"}},
            });
    EXPECT_EQ(*t.held().label(routers::source_labels, 300), "IN 300");
    EXPECT_EQ(t.held().label(routers::source_labels, 200), nullptr);
}

TEST_F(QuartzClient, RequestsNeverAnsweredGiveWayToTheRestAfterAnswerWait) {
    const quartz_config config = sized(300, 0);
    routers::quartz_client large(config.settings, config.options);
    client_table t(large, describeSent);
    play(t, {
                {"connect", connects(), {"RS 1..256", "timer +1000 ms"}},
                {"the first answered", bytesIn(".RAS1,ONE\r"), {"label source 1 ONE"}},
                {"nothing more for answerWait", timePasses(1000ms), {"RS 257..300", "timer +1000 ms"}},
                {"a name without its number answers the oldest still open",
                 bytesIn(".RASLATE\r"),
                 {"label source 257 LATE"}},
                {"answerWait",
                 timePasses(1000ms),
                 {"problem the router named 2 of the 300 sources the device file gives (DatabaseSize_0)", "up 300 0"}},
            });
}

TEST_F(QuartzClient, WithoutSizesItAsksOnlyWhetherTheRouterAnswers) {
    const quartz_config config = sized(0, 0);
    routers::quartz_client unsized(config.settings, config.options);
    client_table t(unsized, describeSent);
    play(t, {
                {"connect", connects(), {".#01", "timer +1000 ms"}},
                {"the answer", bytesIn(".A\r"), {"up 0 0"}},
                {"a push", bytesIn(".UV12,3\r"), {"crosspoint 12 3"}},
                {"a name", bytesIn(".RAS3,CAM 3\r"), {"label source 3 CAM 3"}},
            });
    EXPECT_EQ(t.poll(5, 6), (lines{"IV 5..6"}));
    EXPECT_EQ(t.requestRoute(12, 4), lines{".SV12,4"});
}

TEST_F(QuartzClient, AReconnectReportsEveryRouteAgainButOnlyTheLabelsThatChanged) {
    bringUp();
    table.closed();
    play(table, {
                    {"connect", connects(), connect_4_by_3},
                    {"one renamed",
                     bytesIn(names(true, 4) + ".RAD1,OUT 1\r.RAD2,Monitor\r.RAD3,OUT 3\r" + answers(3)),
                     {"label destination 2 Monitor", "crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "up 4 3"}},
                });
}

// docs/routers.md names the case of each freedom: each name it gives in the
// Quartz section is a case of these tables.
TEST(QuartzDocs, EveryCaseTheDocsNameIsATestCase) {
    quon::test::expectDocsCasesAreTests("Quartz",
                                  {"tests/routers/quartz/test_quartz_client.cpp", "tests/routers/quartz/test_quartz_protocol.cpp"},
                                  20);
}

}  // namespace
