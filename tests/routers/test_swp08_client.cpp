// The SW-P-08 client as tables, without sockets: what it sends and reports
// for the bytes a router sends and the time that passes. Each freedom a
// router has is a row or a case: names one to a message, in batches of 3,
// 16 and 32, in full messages ended by an empty one, or never; fewer names
// or answers than the device file gives; every byte a read of its own;
// silence at connect; tallies pushed between the answers; the keep-alive;
// the resync; garbage reported once per cause; a flood of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client_table.h"
#include "quon/routers/swp08/swp08_client.h"
#include "quon/routers/swp08/swp08_protocol.h"

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
namespace sw = quon::routers::swp08;

namespace {

std::string framed(const std::vector<std::uint8_t>& data) {
    const std::vector<std::uint8_t> bytes = sw::frame(data);
    return std::string(bytes.begin(), bytes.end());
}

const std::string ack("\x10\x06", 2);
const std::string nak("\x10\x15", 2);

// What the router sends: 1-based numbers, matrix 1 level 1.
std::string tally(int destination, int source) {
    return framed(sw::tallyMessage({0, 0}, destination - 1, source - 1, false));
}

std::string namesFrom(bool sources, int first, const std::vector<std::string>& names, int nameLength = 8) {
    return framed(sw::namesMessage(sources, {0, 0}, nameLength, first - 1, names));
}

std::string numbered(bool sources, int number) { return (sources ? "Input " : "Output ") + std::to_string(number); }

// Names 1..count in messages of `perMessage`, and an empty message when the
// last one is full and as many as fit (how a router marks the end).
std::string allNames(bool sources, int count, int perMessage, int nameLength = 8) {
    std::string bytes;
    for (int first = 1; first <= count; first += perMessage) {
        std::vector<std::string> names;
        for (int n = first; n < first + perMessage && n <= count; ++n) names.push_back(numbered(sources, n));
        bytes += namesFrom(sources, first, names, nameLength);
    }
    if (count % perMessage == 0 && perMessage == sw::namesPerMessage(nameLength))
        bytes += namesFrom(sources, count + 1, {}, nameLength);
    return bytes;
}

std::string tallies(int count) {
    std::string bytes;
    for (int d = 1; d <= count; ++d) bytes += tally(d, d);
    return bytes;
}

// What the client sent, as lines: ACK, NAK, "names? sources length 8",
// "interrogate 1..6" (a run of destinations in one send), "connect 5 12".
lines describeSent(const std::string& sent) {
    struct reader : sw::frame_sink {
        lines out;
        int runFirst = 0;
        int runLast = 0;
        void onAck() override { out.push_back("ACK"); }
        void onNak() override { out.push_back("NAK"); }
        void onFrameProblem(sw::frame_problem problem) override {
            out.push_back("bad frame: " + sw::describe(problem));
        }
        void onFrame(const std::vector<std::uint8_t>& data) override {
            if (const auto request = sw::decodeNamesRequest(data)) {
                out.push_back(std::string("names? ") + (request->sources ? "sources" : "destinations") + " length " +
                              std::to_string(request->nameLength));
            } else if (const auto crosspoint = sw::decodeCrosspoint(data)) {
                const int destination = crosspoint->destination + 1;
                if (crosspoint->command == sw::interrogate) {
                    if (runLast != 0 && destination == runLast + 1 && !out.empty() &&
                        out.back().rfind("interrogate ", 0) == 0) {
                        runLast = destination;
                        out.back() = "interrogate " + std::to_string(runFirst) + ".." + std::to_string(runLast);
                    } else {
                        runFirst = runLast = destination;
                        out.push_back("interrogate " + std::to_string(destination));
                    }
                } else {
                    out.push_back("connect " + std::to_string(destination) + " " +
                                  std::to_string(crosspoint->source + 1));
                }
            } else {
                out.push_back("an unexpected message");
            }
        }
    } sink;
    sw::frame_reader frames;
    frames.feed(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size(), sink);
    return sink.out;
}

lines labelLines(bool sources, int first, int last, int nameLength = 8) {
    lines out;
    for (int n = first; n <= last; ++n)
        out.push_back(std::string("label ") + (sources ? "source " : "destination ") + std::to_string(n) + " " +
                      numbered(sources, n).substr(0, static_cast<std::size_t>(nameLength)));
    return out;
}

lines join(std::initializer_list<lines> parts) {
    lines all;
    for (const lines& some : parts) all.insert(all.end(), some.begin(), some.end());
    return all;
}

class Swp08Client : public testing::Test {
protected:
    // A router of 20 sources and 6 destinations whose size the device file
    // does not give: connected, and every name read, the routes asked for.
    static std::vector<quon::test::step> connectAndName() {
        return {{"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
                {"names", bytesIn(ack + ack + allNames(true, 20, 16) + allNames(false, 6, 16)),
                 join({{"ACK"},
                       labelLines(true, 1, 16),
                       {"timer +1000 ms", "ACK"},
                       labelLines(true, 17, 20),
                       {"timer +1000 ms", "ACK"},
                       labelLines(false, 1, 6),
                       {"interrogate 1..6", "timer +1000 ms"}})}};
    }

    // The same, read to up.
    void bringUp() {
        play(table, connectAndName());
        play(table,
             {
                 {"answers",
                  bytesIn(tallies(6)),
                  {"ACK", "crosspoint 1 1", "timer +1000 ms", "ACK", "crosspoint 2 2", "timer +1000 ms", "ACK",
                   "crosspoint 3 3", "timer +1000 ms", "ACK", "crosspoint 4 4", "timer +1000 ms", "ACK",
                   "crosspoint 5 5", "timer +1000 ms", "ACK", "crosspoint 6 6", "up 20 6"}},
             });
    }

    routers::router_settings settings;
    routers::swp08_options options;  // answerWait 1 s
    routers::swp08_client client{settings, options};
    client_table table{client, describeSent};
};

TEST_F(Swp08Client, LearnsTheSizeFromTheNamesAndReadsEveryRoute) {
    bringUp();
    EXPECT_EQ(*table.held().label(routers::source_labels, 20), "Input 20");
    EXPECT_EQ(table.held().source(6), 6);
}

TEST_F(Swp08Client, NamesOfAFullLastMessageEndWithTheEmptyOne) {
    std::vector<std::string> sixteen;
    for (int n = 1; n <= 16; ++n) sixteen.push_back(numbered(false, n));
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"sources, fewer than fit",
              bytesIn(namesFrom(true, 1, {"A"})),
              {"ACK", "label source 1 A", "timer +1000 ms"}},
             {"a full message of destinations: not the end yet", bytesIn(namesFrom(false, 1, sixteen)),
              join({{"ACK"}, labelLines(false, 1, 16), {"timer +1000 ms"}})},
             {"the empty message", bytesIn(namesFrom(false, 17, {})), {"ACK", "interrogate 1..16", "timer +1000 ms"}},
         });
}

// A router of other make may name one to a message, in batches, in full
// messages, or not at all. With the device file's sizes every destination
// is interrogated whatever the names said, once the names are complete or
// nothing more came for answerWait.
struct names_case {
    const char* name;
    int perMessage;  // 0: never answered
    int nameLength;
};

void PrintTo(const names_case& c, std::ostream* out) { *out << c.name; }

class Swp08ClientNames : public testing::TestWithParam<names_case> {};

TEST_P(Swp08ClientNames, EveryDestinationOfTheDeviceFileIsReadAtConnectAndAfterAReconnect) {
    const names_case& c = GetParam();
    routers::router_settings settings;
    settings.sources = 40;
    settings.destinations = 40;
    routers::swp08_options options;
    options.nameLength = c.nameLength;
    options.answerWait = 500ms;
    routers::swp08_client client(settings, options);
    client_table table(client, describeSent);
    const std::string length = std::to_string(c.nameLength);
    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE("connection " + std::to_string(connection));
        EXPECT_EQ(table.connect(),
                  (lines{"names? sources length " + length, "names? destinations length " + length, "timer +500 ms"}));
        lines seen = table.in(ack + ack);
        if (c.perMessage == 0) {
            const lines expected = {
                "problem the router named 0 of the 40 sources the device file gives (DatabaseSize_0)",
                "problem the router named 0 of the 40 destinations the device file gives (DatabaseSize_1)",
                "interrogate 1..40", "timer +500 ms"};
            EXPECT_EQ(table.pass(499ms), lines{});
            EXPECT_EQ(table.pass(1ms), expected);
        } else {
            seen = table.in(allNames(true, 40, c.perMessage, c.nameLength) +
                            allNames(false, 40, c.perMessage, c.nameLength));
            // The names end at the 40th of each, not by waiting.
            const auto interrogated = std::find(seen.begin(), seen.end(), "interrogate 1..40");
            ASSERT_NE(interrogated, seen.end());
            EXPECT_EQ(std::count(seen.begin(), seen.end(), "interrogate 1..40"), 1);
            EXPECT_EQ(std::find_if(interrogated, seen.end(),
                                   [](const std::string& line) { return line.rfind("label", 0) == 0; }),
                      seen.end());
            if (connection == 1) {
                EXPECT_EQ(*table.held().label(routers::source_labels, 40),
                          numbered(true, 40).substr(0, static_cast<std::size_t>(c.nameLength)));
                EXPECT_EQ(*table.held().label(routers::destination_labels, 40),
                          numbered(false, 40).substr(0, static_cast<std::size_t>(c.nameLength)));
            } else {
                // The same names again: nothing to report.
                EXPECT_THAT(seen, testing::Not(testing::Contains(testing::StartsWith("label"))));
            }
        }
        const lines answers = table.in(tallies(40));
        EXPECT_EQ(std::count_if(answers.begin(), answers.end(),
                                [](const std::string& line) { return line.rfind("crosspoint ", 0) == 0; }),
                  40);
        EXPECT_EQ(answers.back(), "up 40 40");
        table.closed();
    }
}

INSTANTIATE_TEST_SUITE_P(Routers, Swp08ClientNames,
                         testing::Values(names_case{"OneToAMessage", 1, 8}, names_case{"ThreeToAMessage", 3, 8},
                                         names_case{"SixteenToAMessage", 16, 8},
                                         names_case{"ThirtyTwoToAMessage", 32, 4},
                                         names_case{"TenToAMessageOfTwelve", 10, 12}, names_case{"NoNames", 0, 8}),
                         [](const testing::TestParamInfo<names_case>& info) { return std::string(info.param.name); });

TEST_F(Swp08Client, FewerNamesAndAnswersThanTheDeviceFileAreReportedOncePerConnection) {
    settings.sources = 4;
    settings.destinations = 3;
    routers::swp08_client known(settings, options);
    client_table t(known, describeSent);
    for (int connection = 1; connection <= 2; ++connection) {
        SCOPED_TRACE("connection " + std::to_string(connection));
        play(t,
             {
                 {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
                 {"three of four sources, every destination",
                  bytesIn(ack + ack + namesFrom(true, 1, {"A", "B", "C"}) + namesFrom(false, 1, {"X", "Y", "Z"})),
                  connection == 1 ? lines{"ACK", "label source 1 A", "label source 2 B", "label source 3 C",
                                          "timer +1000 ms", "ACK", "label destination 1 X", "label destination 2 Y",
                                          "label destination 3 Z", "timer +1000 ms"}
                                  : lines{"ACK", "timer +1000 ms", "ACK", "timer +1000 ms"}},
                 {"a wait short of answerWait", timePasses(999ms), {}},
                 {"answerWait",
                  timePasses(1ms),
                  {"problem the router named 3 of the 4 sources the device file gives (DatabaseSize_0)",
                   "interrogate 1..3", "timer +1000 ms"}},
                 {"two answers",
                  bytesIn(tally(1, 4) + tally(3, 2)),
                  {"ACK", "crosspoint 1 4", "timer +1000 ms", "ACK", "crosspoint 3 2", "timer +1000 ms"}},
                 {"answerWait",
                  timePasses(1000ms),
                  {"problem the router answered 2 of the 3 destinations interrogated", "up 4 3"}},
             });
        t.closed();
    }
}

TEST_F(Swp08Client, ARouterSilentAtConnectIsDroppedNotTakenAsEmpty) {
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"nothing for answerWait", timePasses(5000ms), {"fail no answer to the names requests"}},
             {"bytes after the failure", bytesIn(ack + tally(1, 1)), {}},
         });
}

// Names and then not one route: the router hung between them; up, it would
// show this connection's names beside the last one's routes.
TEST_F(Swp08Client, NamesWithoutOneRouteAfterThemAreNoRead) {
    play(table, connectAndName());
    play(table,
         {
             {"answerWait, and no route", timePasses(1000ms), {"fail no answer to the interrogates after the names"}},
         });
}

// A router that hung as the requests came, and pushes once it is back,
// never took them: read again on a new connection, not up without names.
TEST_F(Swp08Client, APushWithoutAnAnswerToTheNamesRequestsIsNoAnswer) {
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"a tally pushed, and acknowledged", bytesIn(tally(2, 5)), {"ACK", "crosspoint 2 5"}},
             {"answerWait", timePasses(1000ms), {"fail no answer to the names requests"}},
         });
}

TEST_F(Swp08Client, AnAcknowledgingRouterWithoutNamesOrRoutesIsUpEmpty) {
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"the acknowledgements", bytesIn(ack + ack), {}},
             {"answerWait", timePasses(1000ms), {"up 0 0"}},
         });
}

TEST_F(Swp08Client, EveryByteAReadOfItsOwnGivesTheSameAsOneRead) {
    settings.sources = 20;
    settings.destinations = 6;
    const std::string conversation = ack + ack + allNames(true, 20, 3) + allNames(false, 6, 1) + tallies(6);
    routers::swp08_client whole(settings, options);
    client_table wholeTable(whole, describeSent);
    wholeTable.connect();
    const lines expected = wholeTable.in(conversation);
    ASSERT_EQ(expected.back(), "up 20 6");
    for (const std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7)}) {
        routers::swp08_client split(settings, options);
        client_table splitTable(split, describeSent);
        splitTable.connect();
        EXPECT_EQ(splitTable.inPieces(conversation, piece), expected) << piece << " bytes a read";
    }
}

TEST_F(Swp08Client, TalliesPushedBetweenTheAnswersAreReportedAndCount) {
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"names",
              bytesIn(namesFrom(true, 1, {"A", "B"}) + namesFrom(false, 1, {"X", "Y", "Z"})),
              {"ACK", "label source 1 A", "label source 2 B", "timer +1000 ms", "ACK", "label destination 1 X",
               "label destination 2 Y", "label destination 3 Z", "interrogate 1..3", "timer +1000 ms"}},
             {"an operator's route, then the answers",
              bytesIn(tally(2, 1) + tally(1, 1) + tally(2, 2)),
              {"ACK", "crosspoint 2 1", "timer +1000 ms", "ACK", "crosspoint 1 1", "timer +1000 ms", "ACK",
               "crosspoint 2 2", "timer +1000 ms"}},
             {"the last answer", bytesIn(tally(3, 2)), {"ACK", "crosspoint 3 2", "up 2 3"}},
             {"a push while up", bytesIn(framed(sw::tallyMessage({0, 0}, 2, 0, true))), {"ACK", "crosspoint 3 1"}},
             {"other levels and matrices",
              bytesIn(framed(sw::tallyMessage({0, 1}, 0, 1, true)) + framed(sw::tallyMessage({1, 0}, 0, 1, false))),
              {"ACK", "ACK"}},
             {"names of another matrix", bytesIn(framed(sw::namesMessage(true, {1, 0}, 8, 0, {"Other"}))), {"ACK"}},
         });
}

TEST_F(Swp08Client, KeepAliveAnswersAreNewsOnlyWhenTheRouteChanged) {
    bringUp();
    play(table, {
                    {"keep-alive", keepAliveDue(), {"interrogate 1"}},
                    {"its answer, the route held", bytesIn(tally(1, 1)), {"ACK", "answered"}},
                    {"keep-alive", keepAliveDue(), {"interrogate 1"}},
                    {"its answer, a new route", bytesIn(tally(1, 4)), {"ACK", "answered", "crosspoint 1 4"}},
                    {"a push of the same route, unasked", bytesIn(tally(1, 4)), {"ACK", "crosspoint 1 4"}},
                });
    EXPECT_EQ(table.lastActions()[1], (routers::router_action{routers::act::crosspoint{1, 4, false}}));
    table.keepAlive();
    table.in(tally(1, 4));
    EXPECT_EQ(table.lastActions()[2], (routers::router_action{routers::act::crosspoint{1, 4, true}}));
}

// A resync of the six destinations: the names, then every route asked for.
quon::test::step resyncStarts() {
    return {"resync",
            resyncDue(),
            {"read starts", "names? sources length 8", "names? destinations length 8", "interrogate 1..6",
             "timer +1000 ms"}};
}

// The source names of the resync, source 3 renamed.
quon::test::step sourceThreeRenamed() {
    std::vector<std::string> renamed;
    for (int n = 1; n <= 16; ++n) renamed.push_back(n == 3 ? "CAM 3" : numbered(true, n));
    return {"a source renamed", bytesIn(namesFrom(true, 1, renamed)), {"ACK", "label source 3 CAM 3", "timer +1000 ms"}};
}

TEST_F(Swp08Client, TheResyncAsksForEverythingAndReportsTheNamesThatDiffer) {
    bringUp();
    play(table,
         {
             resyncStarts(),
             sourceThreeRenamed(),
             {"the same destination names", bytesIn(allNames(false, 6, 16)), {"ACK", "timer +1000 ms"}},
             {"the answers, one route lost in a hang",
              bytesIn(tally(1, 1) + tally(2, 2) + tally(3, 3) + tally(4, 6)),
              {"ACK", "crosspoint 1 1", "timer +1000 ms", "ACK", "crosspoint 2 2", "timer +1000 ms", "ACK",
               "crosspoint 3 3", "timer +1000 ms", "ACK", "crosspoint 4 6", "timer +1000 ms"}},
             {"the last two, and the read is whole", bytesIn(tally(5, 5) + tally(6, 6)),
              {"ACK", "crosspoint 5 5", "timer +1000 ms", "ACK", "crosspoint 6 6", "read ends"}},
         });
    EXPECT_EQ(table.held().source(4), 6);
}

// A router slow to give its names is still answering: the routes after
// them are waited for from the last name, not from the resync's start.
TEST_F(Swp08Client, TheResyncWaitsForTheRoutesFromTheLastName) {
    bringUp();
    play(table,
         {
             resyncStarts(),
             {"a while", timePasses(900ms), {}},
             {"the names, slowly",
              bytesIn(allNames(true, 20, 16) + allNames(false, 6, 16)),
              {"ACK", "timer +1000 ms", "ACK", "timer +1000 ms", "ACK", "timer +1000 ms"}},
             {"past the resync's first answerWait", timePasses(900ms), {}},
             {"every route",
              bytesIn(tallies(6)),
              {"ACK", "crosspoint 1 1", "timer +1000 ms", "ACK", "crosspoint 2 2", "timer +1000 ms", "ACK",
               "crosspoint 3 3", "timer +1000 ms", "ACK", "crosspoint 4 4", "timer +1000 ms", "ACK",
               "crosspoint 5 5", "timer +1000 ms", "ACK", "crosspoint 6 6", "read ends"}},
         });
}

// Names and then not one route: the router hung, or lost the interrogates.
// Ended, the read would show the new names beside the routes of before the
// hang, and the answers coming later one by one.
TEST_F(Swp08Client, AResyncWithoutOneRouteAfterTheNamesIsNoRead) {
    bringUp();
    play(table,
         {
             resyncStarts(),
             sourceThreeRenamed(),
             {"answerWait, and no route", timePasses(1000ms), {"fail no answer to the interrogates of the resync"}},
             {"the answers, late", bytesIn(tallies(6)), {}},
         });
}

TEST_F(Swp08Client, GarbageIsReportedOncePerCauseAndTheClientCarriesOn) {
    bringUp();
    std::string garbage = "hello";
    garbage += std::string("\x10\x02\x03\x00\x00\x01\x02\x05\x00\x10\x03", 11);  // bad checksum
    garbage += framed({0x03, 0x00, 0x00, 0x01});                                 // malformed tally
    garbage += framed({0x7E, 0x01});                                             // unknown command
    garbage += framed({0x6A, 0x00, 0x01, 0x00, 0x00, 0x01, 'B', 'A', 'D', 0x01, 0xFF, ' ', ' ', ' '});  // name
    garbage += framed({0x6A, 0x00, 0x01});                                                              // names
    garbage += framed(sw::interrogateMessage({0, 0}, 2));                                               // a request
    garbage += nak;
    play(table,
         {
             {"garbage",
              bytesIn(garbage),
              {"problem bytes outside any message", "NAK", "problem a message with a wrong checksum", "ACK",
               "problem a malformed crosspoint message", "ACK",
               "problem an unknown command 0x7E (further unknown commands are not reported)", "ACK",
               "problem source 1's name \"BAD\\x01\\xFF\" has control characters or bytes that are not UTF-8; shown as "
               "\"BAD?\xC3\xBF\"",
               "label source 1 BAD?\xC3\xBF", "ACK", "problem a malformed names message", "ACK",
               "problem a request from the router, which the link does not serve",
               "problem the router refused a message (NAK)"}},
             {"the same garbage again", bytesIn(garbage), {"NAK", "ACK", "ACK", "ACK", "ACK", "ACK"}},
             {"a route", bytesIn(tally(1, 9)), {"ACK", "crosspoint 1 9"}},
         });
}

TEST_F(Swp08Client, AFloodOfGarbageFailsTheConnection) {
    bringUp();
    const lines seen = table.in(std::string(40000, 'x'));
    EXPECT_EQ(seen,
              (lines{"problem bytes outside any message", "fail no valid message among 16384 bad bytes or messages"}));
    EXPECT_EQ(table.in(tally(1, 2)), lines{});
}

TEST_F(Swp08Client, RequestsAreSentOnlyWhileUpAndWithinTheSize) {
    bool accepted = true;
    EXPECT_EQ(table.requestRoute(1, 2, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.poll(1, 6), lines{});
    table.closed();
    bringUp();
    EXPECT_EQ(table.requestRoute(5, 12, &accepted), lines{"connect 5 12"});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(table.held().source(5), 5);                     // only the router's report changes it
    EXPECT_EQ(table.requestRoute(7, 1, &accepted), lines{});  // past the destinations named
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.requestRoute(1, 21, &accepted), lines{});  // past the sources named
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.requestRoute(0, 1, &accepted), lines{});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.poll(2, 4), lines{"interrogate 2..4"});
    table.closed();
    EXPECT_EQ(table.requestRoute(1, 2, &accepted), lines{});
    EXPECT_FALSE(accepted);
}

TEST_F(Swp08Client, UsesTheExtendedFormsPast1024) {
    settings.sources = 1100;
    settings.destinations = 1030;
    options.answerWait = 1000ms;
    routers::swp08_client large(settings, options);
    client_table t(large, describeSent);
    t.connect();
    t.in(ack + ack);
    EXPECT_EQ(t.pass(1000ms).at(2), "interrogate 1..1030");
    std::string answers;
    for (int d = 1; d <= 1030; ++d) answers += framed(sw::tallyMessage({0, 0}, d - 1, d - 1, d > 1024));
    EXPECT_EQ(t.in(answers).back(), "up 1100 1030");
    EXPECT_EQ(t.held().source(1030), 1030);
    EXPECT_EQ(t.requestRoute(1027, 1099), lines{"connect 1027 1099"});
    const std::vector<std::uint8_t> connect = sw::connectMessage({0, 0}, 1026, 1098);
    EXPECT_EQ(connect[0], sw::extended_connect);
    EXPECT_EQ(t.lastActions().front(), (routers::router_action{routers::act::send{framed(connect)}}));
    EXPECT_EQ(t.in(framed(sw::tallyMessage({0, 0}, 1026, 1098, true))), (lines{"ACK", "crosspoint 1027 1099"}));
}

TEST_F(Swp08Client, AMatrixOrLevelOutsideTheProtocolFailsAtConnect) {
    options.matrix = 300;
    routers::swp08_client wrong(settings, options);
    client_table t(wrong, describeSent);
    EXPECT_EQ(t.connect(), lines{"fail matrix and level must be within 1..256"});
}

TEST_F(Swp08Client, AWakeUpBeforeTheLastTimeAskedForDoesNothing) {
    routers::router_actions out;
    const routers::router_clock::time_point start{std::chrono::hours(1)};
    client.connected(start, out);
    ASSERT_EQ(out.back(), (routers::router_action{routers::act::arm_timer{start + 1000ms}}));
    out.clear();
    const std::string bytes = ack + namesFrom(true, 1, {"A"});
    client.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), start + 600ms, out);
    ASSERT_EQ(out.back(), (routers::router_action{routers::act::arm_timer{start + 1600ms}}));
    out.clear();
    client.timer(start + 1000ms, out);  // the first arming's expiry, already on its way
    EXPECT_TRUE(out.empty());
    client.timer(start + 1600ms, out);
    // The names end; with no destination known there is nothing to
    // interrogate.
    EXPECT_EQ(out, (routers::router_actions{routers::act::up{1, 0}}));
}

TEST_F(Swp08Client, AReconnectReportsEveryRouteAgainButOnlyTheLabelsThatChanged) {
    bringUp();
    table.closed();
    play(table,
         {
             {"connect", connects(), {"names? sources length 8", "names? destinations length 8", "timer +1000 ms"}},
             {"names, one renamed",
              bytesIn(ack + ack + allNames(true, 20, 16) +
                      namesFrom(false, 1, {"Output 1", "Monitor", "Output 3", "Output 4", "Output 5", "Output 6"})),
              {"ACK", "timer +1000 ms", "ACK", "timer +1000 ms", "ACK", "label destination 2 Monitor",
               "interrogate 1..6", "timer +1000 ms"}},
         });
    const lines answers = table.in(tallies(6));
    EXPECT_EQ(std::count_if(answers.begin(), answers.end(),
                            [](const std::string& line) { return line.rfind("crosspoint ", 0) == 0; }),
              6);
    EXPECT_EQ(answers.back(), "up 20 6");
}

}  // namespace
