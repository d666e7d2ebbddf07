// The Videohub client as tables, without sockets: what it sends and reports
// for the text a router sends and the time that passes. Each freedom a
// router has is a row or a case: the prelude with or without END PRELUDE
// (and END PRELUDE before the routing), blocks split at every byte and with
// any line end, no routing in time, pushes between the replies to a
// request, the keep-alive, the resync, garbage reported once per cause, a
// block of as many lines as the device file says the router has.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "client_table.h"
#include "quon/routers/videohub/videohub_client.h"

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

// What the client sent, one line per send, its line ends shown as \n.
lines describeSent(const std::string& sent) {
    std::string shown;
    for (const char c : sent) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    return {"send " + shown};
}

std::string labelsBlock(const char* header, const char* prefix, int count) {
    std::string text = std::string(header) + "\n";
    for (int i = 0; i < count; ++i) text += std::to_string(i) + " " + prefix + std::to_string(i + 1) + "\n";
    return text + "\n";
}

std::string routingBlock(const std::vector<int>& inputs) {
    std::string text = "VIDEO OUTPUT ROUTING:\n";
    for (std::size_t output = 0; output < inputs.size(); ++output)
        text += std::to_string(output) + " " + std::to_string(inputs[output]) + "\n";
    return text + "\n";
}

const std::string preamble = "PROTOCOL PREAMBLE:\nVersion: 2.8\n\n";
const std::string device =
    "VIDEOHUB DEVICE:\nDevice present: true\nModel name: Test\nVideo inputs: 8\n"
    "Video outputs: 4\n\n";
const std::string inputLabels = labelsBlock("INPUT LABELS:", "Input ", 8);
const std::string outputLabels = labelsBlock("OUTPUT LABELS:", "Output ", 4);
const std::string locks = "VIDEO OUTPUT LOCKS:\n0 U\n1 U\n2 U\n3 U\n\n";
const std::string routing = routingBlock({0, 1, 2, 3});
const std::string endPrelude = "END PRELUDE:\n\n";

lines preludeReport() {
    lines expected;
    for (int i = 1; i <= 8; ++i)
        expected.push_back("label source " + std::to_string(i) + " Input " + std::to_string(i));
    for (int i = 1; i <= 4; ++i)
        expected.push_back("label destination " + std::to_string(i) + " Output " + std::to_string(i));
    for (int i = 1; i <= 4; ++i) expected.push_back("crosspoint " + std::to_string(i) + " " + std::to_string(i));
    expected.push_back("up 8 4");
    return expected;
}

class VideohubClient : public testing::Test {
protected:
    void bringUp() {
        play(table, {{"connect", connects(), {"timer +2000 ms"}},
                     {"prelude", bytesIn(preamble + device + inputLabels + outputLabels + locks + routing + endPrelude),
                      preludeReport()}});
    }

    static routers::router_settings settingsOfTheTests() {
        routers::router_settings settings;
        settings.connectTimeout = 2000ms;
        return settings;
    }

    routers::router_settings settings = settingsOfTheTests();
    routers::videohub_client client{settings};
    client_table table{client, describeSent};
};

TEST_F(VideohubClient, ReadsThePreludeThenGoesUp) {
    bringUp();
    EXPECT_EQ(*table.held().label(routers::source_labels, 8), "Input 8");
    EXPECT_EQ(*table.held().label(routers::destination_labels, 4), "Output 4");
    EXPECT_EQ(table.held().label(routers::destination_labels, 5), nullptr);
    EXPECT_EQ(table.held().source(3), 3);
    EXPECT_EQ(table.held().source(5), std::nullopt);
    EXPECT_EQ(table.pass(10s), lines{}) << "the prelude's time limit is over once up";
}

TEST_F(VideohubClient, APreludeWithoutItsEndIsUpAtTheRouting) {
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"prelude without END PRELUDE", bytesIn(preamble + device + inputLabels + outputLabels + routing),
                  preludeReport()},
                 {"a later routing block", bytesIn(routingBlock({7})), {"crosspoint 1 8"}}});
}

// The routing may come before the input labels: up once both came, so that
// the first read is whole; with the routing alone, up at the time limit,
// saying the labels did not come.
TEST_F(VideohubClient, ThePreludesRoutingBeforeItsLabelsIsUpAtTheLabels) {
    lines labels;
    for (int i = 1; i <= 8; ++i) labels.push_back("label source " + std::to_string(i) + " Input " + std::to_string(i));
    const lines routes{"crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "crosspoint 4 4"};
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"the routing first", bytesIn(preamble + device + routing), routes},
                 {"then the input labels", bytesIn(inputLabels), [&] {
                      lines expected = labels;
                      expected.push_back("up 8 4");
                      return expected;
                  }()}});
    table.closed();
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"the routing alone", bytesIn(preamble + device + routing), routes},
                 {"the time limit", timePasses(2000ms),
                  {"missing the input labels did not come with the routing; showing numbers", "up 8 4"}}});
}

TEST_F(VideohubClient, EndPreludeBeforeAnyRoutingIsUp) {
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"prelude without routing", bytesIn(preamble + device + endPrelude), {"up 8 4"}},
                 {"the routing after it", bytesIn(routingBlock({3, 2})), {"crosspoint 1 4", "crosspoint 2 3"}}});
}

TEST_F(VideohubClient, NoRoutingWithinTheConnectTimeoutFails) {
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"some of a prelude", bytesIn(preamble + device + inputLabels),
                  [] {
                      lines expected;
                      for (int i = 1; i <= 8; ++i)
                          expected.push_back("label source " + std::to_string(i) + " Input " + std::to_string(i));
                      return expected;
                  }()},
                 {"short of the limit", timePasses(1999ms), {}},
                 {"the limit", timePasses(1ms), {"fail no routing received within 2000 ms"}},
                 {"the routing, too late", bytesIn(routing), {}}});
}

TEST_F(VideohubClient, BlocksSplitAtAnyByteAndWithAnyLineEndReadTheSame) {
    const std::string prelude = preamble + device + inputLabels + outputLabels + locks + routing + endPrelude;
    std::string crlf;
    std::string cr;
    for (const char c : prelude) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    for (const std::string& text : {prelude, crlf, cr}) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(17)}) {
            routers::videohub_client split(settings);
            client_table t(split, describeSent);
            t.connect();
            EXPECT_EQ(t.inPieces(text, piece), preludeReport()) << piece << " bytes a read";
        }
    }
}

TEST_F(VideohubClient, PushesBetweenTheRepliesToARequestAreTakenInOrder) {
    bringUp();
    bool accepted = false;
    EXPECT_EQ(table.requestRoute(1, 6, &accepted), lines{"send VIDEO OUTPUT ROUTING:\\n0 5\\n\\n"});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(table.held().source(1), 1);  // only the router's report changes it
    play(table, {
                    {"another client's rename, then the ACK",
                     bytesIn("INPUT LABELS:\n2 Camera 3\n\nACK\n\n"),
                     {"label source 3 Camera 3"}},
                    {"an operator's route, split", bytesIn("VIDEO OUTPUT ROUTING:\n3 "), {}},
                    {"its end, then the answer",
                     bytesIn("7\n\nVIDEO OUTPUT ROUTING:\n0 5\n\n"),
                     {"crosspoint 4 8", "crosspoint 1 6"}},
                });
    EXPECT_EQ(table.held().source(1), 6);
}

TEST_F(VideohubClient, RequestsAreSentOnlyWhileUpAndWithinTheSize) {
    bool accepted = true;
    table.connect();
    EXPECT_EQ(table.requestRoute(1, 2, &accepted), lines{});  // not up yet
    EXPECT_FALSE(accepted);
    EXPECT_EQ(table.poll(1, 4), lines{});
    table.in(preamble + device + inputLabels + outputLabels + routing);
    for (const auto& [destination, source] :
         std::vector<std::pair<int, int>>{{5, 1}, {1, 9}, {0, 1}, {1, 0}, {65537, 1}}) {
        EXPECT_EQ(table.requestRoute(destination, source, &accepted), lines{}) << destination << " " << source;
        EXPECT_FALSE(accepted);
    }
    EXPECT_EQ(table.requestRoute(4, 8, &accepted), lines{"send VIDEO OUTPUT ROUTING:\\n3 7\\n\\n"});
    EXPECT_TRUE(accepted);
    EXPECT_EQ(table.poll(2, 3), lines{"send VIDEO OUTPUT ROUTING:\\n\\n"});  // no partial query
    EXPECT_EQ(table.poll(3, 2), lines{});
    table.closed();
    EXPECT_EQ(table.requestRoute(4, 8, &accepted), lines{});
    EXPECT_FALSE(accepted);
}

// The protocol's one query returns the whole routing: polls while one is
// out (a wall's displays made together, each polling) wait for its reply.
TEST_F(VideohubClient, PollsWhileARoutingQueryIsOutAreAnsweredByItsReply) {
    bringUp();
    EXPECT_EQ(table.poll(1, 1), lines{"send VIDEO OUTPUT ROUTING:\\n\\n"});
    EXPECT_EQ(table.poll(2, 2), lines{});
    EXPECT_EQ(table.poll(3, 4), lines{});
    play(table, {{"the reply",
                  bytesIn(routingBlock({0, 1, 2, 5})),
                  {"crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "crosspoint 4 6"}}});
    EXPECT_EQ(table.poll(2, 2), lines{"send VIDEO OUTPUT ROUTING:\\n\\n"});
    table.closed();
    table.connect();
    table.in(preamble + device + inputLabels + outputLabels + routing);
    EXPECT_EQ(table.poll(2, 2), lines{"send VIDEO OUTPUT ROUTING:\\n\\n"}) << "a new connection asks anew";
}

TEST_F(VideohubClient, KeepAliveIsAPingWhoseAckIsItsAnswer) {
    table.connect();
    EXPECT_EQ(table.keepAlive(), lines{}) << "not before up";
    table.in(preamble + device + inputLabels + outputLabels + routing);
    play(table, {{"keep-alive", keepAliveDue(), {"send PING:\\n\\n"}},
                 {"its answer", bytesIn("ACK\n\n"), {"answered"}},
                 {"keep-alive", keepAliveDue(), {"send PING:\\n\\n"}},
                 {"its answer, in two", bytesIn("AC"), {}},
                 {"", bytesIn("K\n\n"), {"answered"}}});
}

TEST_F(VideohubClient, TheResyncAsksForEverythingAndReportsTheLabelsThatDiffer) {
    bringUp();
    std::string labels = inputLabels;
    labels.replace(labels.find("2 Input 3"), 9, "2 CAM 3 WIDE");
    play(table,
         {{"resync",
           resyncDue(),
           {"read starts", "send INPUT LABELS:\\n\\n", "send OUTPUT LABELS:\\n\\n",
            "send VIDEO OUTPUT ROUTING:\\n\\n"}},
          {"a routing push before the answers: the read goes on", bytesIn(routingBlock({0})), {"crosspoint 1 1"}},
          {"a label push, a line of the block: the read goes on", bytesIn("INPUT LABELS:\n0 Input 1\n\n"), {}},
          {"the answers, a rename and a route lost in a hang",
           bytesIn(labels + outputLabels + routingBlock({0, 1, 2, 5})),
           {"label source 3 CAM 3 WIDE", "crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "crosspoint 4 6",
            "read ends"}}});
}

TEST_F(VideohubClient, GarbageIsReportedOncePerCauseAndTheClientCarriesOn) {
    bringUp();
    std::string garbage = "\x01\x02\xFF\xFE nonsense\n\n";
    garbage += "VIDEO OUTPUT ROUTING:\nx y\n99 1\n1 99\n-3 2\n\n";
    garbage += "INPUT LABELS:\n2 bad\x01label\xFF\n\n";
    garbage += std::string(1 << 20, 'z') + "\n\n";
    garbage += "NAK\n\n";
    play(table, {{"garbage",
                  bytesIn(garbage),
                  {"problem a malformed line in VIDEO OUTPUT ROUTING:", "problem an index outside the router's size",
                   "problem input 3's label \"bad\\x01label\\xFF\" has control characters or bytes that are not "
                   "UTF-8; shown as \"bad?label\xC3\xBF\"",
                   "label source 3 bad?label\xC3\xBF", "problem a line longer than the limit was skipped",
                   "problem the router refused a request (NAK)"}},
                 {"the same garbage again", bytesIn(garbage), {}},
                 {"and again, a byte at a time", [&](client_table& t) { return t.inPieces(garbage, 1); }, {}},
                 {"a route",
                  bytesIn(routingBlock({0, 1, 2, 4})),
                  {"crosspoint 1 1", "crosspoint 2 2", "crosspoint 3 3", "crosspoint 4 5"}}});
}

TEST_F(VideohubClient, AnUnreadableSizeIsReportedAndLeavesTheSizeOpen) {
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"a device block with a size that is no number",
                  bytesIn("VIDEOHUB DEVICE:\nVideo inputs: many\nVideo outputs: 2\n\n" + routingBlock({40, 1}) +
                          endPrelude),
                  {"problem an unreadable \"Video inputs\" in the device block", "crosspoint 1 41", "crosspoint 2 2",
                   "up 0 2"}}});
}

TEST_F(VideohubClient, AReconnectReportsEveryRouteAgainButOnlyTheLabelsThatChanged) {
    bringUp();
    table.closed();
    std::string labels = outputLabels;
    labels.replace(labels.find("1 Output 2"), 10, "1 Monitor 2");
    play(table, {{"connect", connects(), {"timer +2000 ms"}},
                 {"a restarted router's prelude",
                  bytesIn(preamble + device + inputLabels + labels + routingBlock({7, 6, 5, 4})),
                  {"label destination 2 Monitor 2", "crosspoint 1 8", "crosspoint 2 7", "crosspoint 3 6",
                   "crosspoint 4 5", "up 8 4"}}});
}

}  // namespace

// A router larger than the reader's usual 4,096 lines a block: the device
// file's sizes make room for every line; without them the block is cut and
// the cut reported.
TEST(VideohubClientSize, ABlockAsLargeAsTheDeviceFileSaysIsReadWhole) {
    constexpr int size = 5000;
    std::vector<int> inputs(size);
    for (int output = 0; output < size; ++output) inputs[output] = size - 1 - output;
    const std::string prelude = preamble + routingBlock(inputs) + endPrelude;
    for (const int known : {0, size}) {
        routers::router_settings settings;
        settings.destinations = known;
        routers::videohub_client client{settings};
        client_table table{client, describeSent};
        table.connect();
        const lines reported = table.in(prelude);
        const auto crosspoints = std::count_if(reported.begin(), reported.end(),
                                               [](const std::string& l) { return l.rfind("crosspoint ", 0) == 0; });
        const bool cut = std::any_of(reported.begin(), reported.end(),
                                     [](const std::string& l) { return l.find("was cut") != std::string::npos; });
        EXPECT_EQ(crosspoints, known == size ? size : 4096) << known;
        EXPECT_EQ(cut, known != size) << known;
    }
}
