// The Ember+ client as tables, without sockets: what it sends and reports
// for what a provider sends and the time that passes. Each freedom a
// provider has is a case: replies flat and qualified, nested, or a
// qualified parent with unqualified children; several messages or packets
// for one request; labels through a label layer or labelsLocation, or
// missing; connection updates with only the changed targets, several
// sources, none, or pending; the keep-alive both ways; the resync; broken
// frames and messages; one request a message; requests never answered,
// asked again once and said; signals without a label shown by number.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client_table.h"
#include "glow_builder.h"
#include "quon/routers/emberplus/emberplus_client.h"

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
namespace glow = quon::routers::glow;
namespace s101 = quon::routers::s101;
using path = glow::path;

namespace {

// What the client sent, one line per message: "get-directory 0.1",
// "connect 0.1.0 2<1", "keep-alive request". A provider may act on the
// first command of a message only: a message with more than one is a line
// of its own that no table expects.
lines describeSent(const std::string& sent) {
    struct sink : s101::frame_sink {
        lines out;
        void onMessage(const std::string& ber) override {
            std::vector<glow::element> elements;
            std::string error;
            if (!glow::decode(ber, elements, error)) out.push_back("send undecodable: " + error);
            const std::size_t before = out.size();
            for (const glow::element& e : elements) {
                if (e.what == glow::kind::command) {
                    out.push_back("send get-directory " + (e.at.empty() ? std::string("root") : glow::showPath(e.at)) +
                                  (e.command == glow::command_get_directory ? "" : " command " + std::to_string(e.command)));
                } else if (e.connections) {
                    for (const glow::connection& c : *e.connections)
                        out.push_back("send connect " + glow::showPath(e.at) + " " + std::to_string(c.target) + "<" +
                                      glow::showPath(c.sources) + " op " + std::to_string(c.operation.value_or(-1)));
                }
            }
            if (out.size() - before > 1) {
                std::string several = "send " + std::to_string(out.size() - before) + " requests in one message:";
                for (std::size_t i = before; i < out.size(); ++i) several += " [" + out[i] + "]";
                out.resize(before);
                out.push_back(several);
            }
        }
        void onKeepAliveRequest() override { out.push_back("send keep-alive request"); }
        void onKeepAliveResponse() override { out.push_back("send keep-alive response"); }
        void onFrameProblem(s101::problem p) override { out.push_back(std::string("send broken: ") + s101::describe(p)); }
    } collected;
    s101::reader reader;
    reader.feed(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size(), collected);
    return collected.out;
}

const quon::fake::glow_builder b;

std::string framed(const std::string& entries) { return s101::message(b.root(entries)); }

// The provider's tree: router (0) -> matrices (0.1) -> video (0.1.0), 4
// targets and 8 sources, labels at 0.2 (0.2.1 targets, 0.2.2 sources).
std::string rootReply() { return framed(b.entry(b.qualifiedNode({0}, b.nodeContents("router", true)))); }
// Flat and qualified, as provider A answers.
std::string routerReplyFlat() {
    return framed(b.entry(b.qualifiedNode({0, 0}, b.nodeContents("identity"))) +
                  b.entry(b.qualifiedNode({0, 1}, b.nodeContents("matrices"))) +
                  b.entry(b.qualifiedNode({0, 2}, b.nodeContents("labels"))));
}
std::string matricesReplyFlat(const path& labels = {0, 2}) {
    return framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.matrixContents("video", 4, 8, labels) +
                                                           b.connections({}))));
}
std::vector<std::string> allConnections(std::vector<std::uint32_t> sources = {0, 1, 2, 3}) {
    std::vector<std::string> list;
    for (std::size_t t = 0; t < sources.size(); ++t) list.push_back(b.connection(static_cast<std::int64_t>(t), {sources[t]}));
    return list;
}
std::string matrixReply(const path& labels = {0, 2}) {
    return framed(b.entry(
        b.qualifiedMatrix({0, 1, 0}, b.matrixContents("video", 4, 8, labels) + b.connections(allConnections()))));
}
// A qualified parent with unqualified children, as provider B answers.
std::string labelsReply(int which, int count, const std::string& prefix) {
    std::string params;
    for (int i = 0; i < count; ++i)
        params += b.entry(b.parameter(static_cast<std::uint32_t>(i),
                                      b.parameterContents("l" + std::to_string(i), prefix + std::to_string(i + 1))));
    return framed(b.entry(b.qualifiedNode({0, 2, static_cast<std::uint32_t>(which)}, b.children(params))));
}

lines crosspoints(const std::vector<int>& sources) {
    lines out;
    for (std::size_t d = 0; d < sources.size(); ++d)
        out.push_back("crosspoint " + std::to_string(d + 1) + " " + std::to_string(sources[d]));
    return out;
}
lines labelLines(const char* database, int count, const std::string& prefix) {
    lines out;
    for (int i = 1; i <= count; ++i)
        out.push_back(std::string("label ") + database + " " + std::to_string(i) + " " + prefix + std::to_string(i));
    return out;
}
// The matrix at `matrix`; answerWait 1 s.
routers::emberplus_options optionsFor(const std::string& matrix) {
    routers::emberplus_options options;
    std::string why;
    EXPECT_TRUE(routers::parseMatrixPath(matrix, options.matrix, why)) << why;
    return options;
}

lines operator+(lines a, const lines& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

class EmberplusClient : public testing::Test {
protected:
    static routers::router_settings settingsOfTheTests() {
        routers::router_settings settings;
        settings.connectTimeout = 5000ms;
        settings.keepAliveInterval = 5000ms;
        settings.sources = 8;
        settings.destinations = 4;
        return settings;
    }

    void bringUp() {
        play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                     {"root", bytesIn(rootReply()), {"send get-directory 0"}},
                     {"router", bytesIn(routerReplyFlat()), {"send get-directory 0.1"}},
                     {"matrices", bytesIn(matricesReplyFlat()),
                      {"send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2"}},
                     {"the matrix: its routes wait for the labels", bytesIn(matrixReply()), {}},
                     {"target labels", bytesIn(labelsReply(1, 4, "Out ")), labelLines("destination", 4, "Out ")},
                     {"source labels", bytesIn(labelsReply(2, 8, "In ")),
                      labelLines("source", 8, "In ") + crosspoints({1, 2, 3, 4}) + lines{"up 8 4"}}});
    }

    routers::router_settings settings = settingsOfTheTests();
    routers::emberplus_client client{settings, optionsFor("router/matrices/video")};
    client_table table{client, describeSent};
};

TEST_F(EmberplusClient, WalksByIdentifiersThenReadsConnectionsAndLabels) {
    bringUp();
    EXPECT_EQ(*table.held().label(routers::source_labels, 8), "In 8");
    EXPECT_EQ(*table.held().label(routers::destination_labels, 4), "Out 4");
    EXPECT_EQ(table.held().source(3), 3);
    EXPECT_EQ(table.pass(10s), lines{}) << "no time limit once up";
}

TEST(EmberplusMatrixPath, ReadsNumbersOrIdentifiers) {
    routers::emberplus_matrix_path p;
    std::string error;
    ASSERT_TRUE(routers::parseMatrixPath("0.1.0", p, error));
    EXPECT_EQ(p.numbers, (std::vector<std::uint32_t>{0, 1, 0}));
    ASSERT_TRUE(routers::parseMatrixPath("router/matrices/video", p, error));
    EXPECT_EQ(p.identifiers, (std::vector<std::string>{"router", "matrices", "video"}));
    ASSERT_TRUE(routers::parseMatrixPath("", p, error));
    EXPECT_TRUE(p.first());
    for (const char* bad : {"0..1", "router//video", "/router", "0.1.", "99999999999"}) {
        EXPECT_FALSE(routers::parseMatrixPath(bad, p, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;  // the file and key before it: RouterKeys
    }
}

// A provider may answer in the shape of the request, nested, and push its
// whole tree unasked: a numeric path is taken from wherever it shows,
// definite and indefinite lengths alike.
TEST(EmberplusClientShapes, ANumericPathIsFoundInNestedAnswersOfAnyLengthForm) {
    for (const bool indefinite : {false, true}) {
        const quon::fake::glow_builder n{indefinite};
        routers::emberplus_client client(routers::router_settings{}, optionsFor("0.1.0"));
        client_table table(client, describeSent);
        const std::string matrix = n.matrix(0, n.matrixContents("video", 2, 2, {}, "", glow::matrix_n_to_n) +
                                                   n.connections({n.connection(0, {1, 0}), n.connection(1, {})}));
        const std::string tree = s101::message(n.root(n.entry(n.node(
            0, n.nodeContents("router") +
                   n.children(n.entry(n.node(1, n.nodeContents("matrices") + n.children(n.entry(matrix)))))))));
        play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                     {"the whole tree, unasked, taken at once", bytesIn(tree), {"send get-directory 0.1.0"}},
                     {"the matrix's answer, nested", bytesIn(tree), {}},
                     {"nothing more", timePasses(1000ms),
                      {"problem the matrix at 0.1.0 declares no labels: showing numbers", "label source 1 1",
                       "label source 2 2", "label destination 1 1", "label destination 2 2", "crosspoint 1 1",
                       "crosspoint 2 0", "up 2 2"}}});
    }
}

TEST_F(EmberplusClient, WithoutMatrixTheFirstMatrixOfTheWalkIsTaken) {
    routers::emberplus_client first(settingsOfTheTests(), optionsFor(""));
    client_table t(first, describeSent);
    play(t, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
             {"root", bytesIn(rootReply()), {"send get-directory 0"}},
             {"router", bytesIn(routerReplyFlat()),
              {"send get-directory 0.0", "send get-directory 0.1", "send get-directory 0.2"}},
             {"an empty Root for a node with nothing", bytesIn(framed("")), {}},
             {"matrices", bytesIn(matricesReplyFlat()),
              {"send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2"}}});
}

TEST_F(EmberplusClient, AWalkThatFindsNoMatrixFailsAtTheConnectTimeout) {
    play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                 {"root", bytesIn(rootReply()), {"send get-directory 0"}},
                 {"router, without matrices", bytesIn(framed(b.entry(b.qualifiedNode({0, 0}, b.nodeContents("identity"))))),
                  {"timer +5000 ms"}},
                 {"the limit", timePasses(5000ms),
                  {"fail no matrix at Matrix=router/matrices/video within 5000 ms (2 elements seen, down to 0.0)"}}});
    routers::emberplus_client wrong(settingsOfTheTests(), optionsFor("router"));
    client_table t(wrong, describeSent);
    t.connect();
    EXPECT_EQ(t.in(framed(b.entry(b.qualifiedNode({0}, b.nodeContents("router"))))),
              lines{"fail the element at Matrix=router (0) is not a matrix"});
    routers::emberplus_client silent(settingsOfTheTests(), optionsFor("0.1"));
    client_table s(silent, describeSent);
    s.connect();
    // A provider that answers nothing, not even a keep-alive, hung.
    EXPECT_EQ(s.pass(5000ms),
              (lines{"send get-directory root", "timer +1000 ms", "send keep-alive request", "timer +1000 ms",
                     "fail nothing came from the provider, not even the answer to a keep-alive, within 1000 ms of "
                     "asking again for the root"}));
}

TEST_F(EmberplusClient, ConnectionUpdatesCarryOnlyWhatChanged) {
    bringUp();
    const auto push = [](const std::vector<std::string>& list) {
        // Nested, as provider A pushes, with partial contents.
        return framed(b.entry(b.node(
            0, b.children(b.entry(b.node(1, b.children(b.entry(b.matrix(0, b.connections(list))))))))));
    };
    play(table, {
                    {"target 1 from source 3, modified", bytesIn(push({b.connection(1, {3}, 1)})), {"crosspoint 2 4"}},
                    {"several sources: the lowest", bytesIn(push({b.connection(0, {6, 4, 5}, 0)})), {"crosspoint 1 5"}},
                    {"no source", bytesIn(push({b.connection(2, {})})), {"crosspoint 3 0"}},
                    {"no sources field at all", bytesIn(push({b.connection(3, {}, std::nullopt, false)})),
                     {"crosspoint 4 0"}},
                    {"pending is not in effect", bytesIn(push({b.connection(0, {7}, 2)})), {}},
                    {"locked: the current sources", bytesIn(push({b.connection(0, {4}, 3)})), {}},
                    {"a passing tally, then the real one", bytesIn(push({b.connection(1, {0})}) + push({b.connection(1, {6})})),
                     {"crosspoint 2 1", "crosspoint 2 7"}},
                    {"outside the matrix", bytesIn(push({b.connection(4, {0}), b.connection(0, {8})})),
                     {"problem a connection of target 4, outside the matrix's targets"}},
                    {"the resync rereads all and reports only what differs", resyncDue(),
                     {"read starts", "send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2"}},
                    {"the answers", bytesIn(framed(b.entry(b.qualifiedMatrix(
                                        {0, 1, 0}, b.matrixContents("video", 4, 8, {0, 2}) +
                                                       b.connections({b.connection(0, {4}), b.connection(1, {6}),
                                                                      b.connection(2, {}), b.connection(3, {1})})))) +
                                    labelsReply(1, 4, "Out ") + labelsReply(2, 8, "In ")),
                     {"crosspoint 4 2", "read ends"}},
                });
    EXPECT_EQ(table.poll(1, 3), (lines{"crosspoint 1 5", "crosspoint 2 7", "crosspoint 3 0"}))
        << "a poll is answered from what the provider reported";
}

TEST_F(EmberplusClient, RenamesArePushedAsParameters) {
    bringUp();
    play(table, {{"nested", bytesIn(framed(b.entry(b.node(0, b.children(b.entry(b.node(2, b.children(b.entry(b.node(
                                    2, b.children(b.entry(b.parameter(4, b.parameterContents("l4", "CAM 5")))))))))))))),
                  {"label source 5 CAM 5"}},
                 {"qualified, the value alone", bytesIn(framed(b.entry(b.qualifiedParameter({0, 2, 1, 0}, b.valueOnly("PGM"))))),
                  {"label destination 1 PGM"}},
                 {"the same again", bytesIn(framed(b.entry(b.qualifiedParameter({0, 2, 1, 0}, b.valueOnly("PGM"))))), {}},
                 {"control characters", bytesIn(framed(b.entry(b.qualifiedParameter({0, 2, 2, 0}, b.valueOnly("A\tB"))))),
                  {"problem source 0's label \"A\\tB\" has control characters or bytes that are not UTF-8; shown as \"A?B\"",
                   "label source 1 A?B"}},
                 {"another parameter elsewhere", bytesIn(framed(b.entry(b.qualifiedParameter({0, 0, 1}, b.valueOnly("x"))))),
                  {}}});
}

// A 2x2 matrix whose labels are at labelsLocation nodes 0.5.N (targets)
// and 0.6.N (sources), with two connections.
std::string locatedMatrix() {
    return framed(b.entry(b.qualifiedMatrix(
        {0, 1, 0}, b.matrixContents("video", 2, 2) +
                       b.signalsWithLocations(true, {{0, {0, 5, 0}}, {1, {0, 5, 1}}}) +
                       b.signalsWithLocations(false, {{0, {0, 6, 0}}, {1, {0, 6, 1}}}) +
                       b.connections({b.connection(0, {1}), b.connection(1, {0})}))));
}

TEST_F(EmberplusClient, LabelsThroughLabelsLocation) {
    routers::router_settings small = settingsOfTheTests();
    small.sources = small.destinations = 2;
    routers::emberplus_client located(small, optionsFor("0.1.0"));
    client_table t(located, describeSent);
    const std::string matrix = locatedMatrix();
    const auto at = [](const path& node, std::uint32_t number, const std::string& text) {
        return b.entry(b.qualifiedParameter([&] {
            path p = node;
            p.push_back(number);
            return p;
        }(), b.valueOnly(text)));
    };
    play(t, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
             {"the matrix in the root's answer", bytesIn(matrix),
              {"send get-directory 0.1.0", "send get-directory 0.5.0", "send get-directory 0.5.1",
               "send get-directory 0.6.0", "send get-directory 0.6.1"}},
             {"its answer", bytesIn(matrix), {}},
             {"the labels, two strings in one node: the lowest-numbered shown",
              bytesIn(framed(at({0, 5, 0}, 2, "long name") + at({0, 5, 0}, 1, "PGM") + at({0, 5, 0}, 2, "other"))),
              {"label destination 1 long name", "label destination 1 PGM"}},
             {"the rest", bytesIn(framed(at({0, 5, 1}, 1, "PVW") + at({0, 6, 0}, 1, "CAM 1") + at({0, 6, 1}, 1, "CAM 2"))),
              {"label destination 2 PVW", "label source 1 CAM 1", "label source 2 CAM 2", "crosspoint 1 2",
               "crosspoint 2 1", "up 2 2"}}});
}

// labelsLocation nodes are a request each: those given up together are said
// in two lines, the first named, and their signals show their numbers.
TEST_F(EmberplusClient, LabelsLocationNodesThatNeverAnswerAreSaidTogether) {
    routers::router_settings small = settingsOfTheTests();
    small.sources = small.destinations = 2;
    routers::emberplus_client located(small, optionsFor("0.1.0"));
    client_table t(located, describeSent);
    const std::string matrix = locatedMatrix();
    t.connect();
    t.in(matrix);
    t.in(matrix);
    play(t, {{"one node answers", bytesIn(framed(b.entry(b.qualifiedParameter({0, 5, 0, 1}, b.valueOnly("PGM"))))),
              {"label destination 1 PGM"}},
             {"the others asked again", timePasses(1000ms),
              {"send get-directory 0.5.1", "send get-directory 0.6.0", "send get-directory 0.6.1", "timer +1000 ms"}},
             {"nothing since: the provider asked for a keep-alive", timePasses(1000ms),
              {"send keep-alive request", "timer +1000 ms"}},
             {"it answers: alive, it passed the requests over", bytesIn(s101::keepAliveResponse()), {"answered"}},
             {"given up", timePasses(1000ms),
              {"missing target 1's labels (path 0.5.1) did not come; showing its number",
               "missing 2 other labelsLocation nodes did not come either", "label source 1 1", "label source 2 2",
               "label destination 2 2", "crosspoint 1 2", "crosspoint 2 1", "up 2 2"}}});
}

// A label layer declared but not there: an empty Root answers nothing, and
// each request is asked again once, then given up and said once; every
// display shows its number.
TEST_F(EmberplusClient, ALabelLayerThatIsMissingIsAskedAgainThenShowsNumbers) {
    play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                 {"root", bytesIn(rootReply()), {"send get-directory 0"}},
                 {"router", bytesIn(routerReplyFlat()), {"send get-directory 0.1"}},
                 {"matrices, labels at 0.9", bytesIn(matricesReplyFlat({0, 9})),
                  {"send get-directory 0.1.0", "send get-directory 0.9.1", "send get-directory 0.9.2"}},
                 {"the matrix", bytesIn(matrixReply({0, 9})), {}},
                 {"an empty Root for each path not there", bytesIn(framed("") + framed("")), {}},
                 {"the nodes named with their contents, as their parent's listing: no answer either",
                  bytesIn(framed(b.entry(b.qualifiedNode({0, 9, 1}, b.nodeContents("targets"))) +
                                 b.entry(b.qualifiedNode({0, 9, 2}, b.nodeContents("sources"))))),
                  {}},
                 {"asked again once", timePasses(1000ms),
                  {"send get-directory 0.9.1", "send get-directory 0.9.2", "timer +1000 ms"}},
                 {"nothing since: the provider asked for a keep-alive", timePasses(1000ms),
                  {"send keep-alive request", "timer +1000 ms"}},
                 {"it answers", bytesIn(s101::keepAliveResponse()), {"answered"}},
                 {"given up", timePasses(1000ms),
                  lines{"missing the targets' labels (path 0.9.1) did not come; showing numbers",
                        "missing the sources' labels (path 0.9.2) did not come; showing numbers"} +
                      labelLines("source", 8, "") + labelLines("destination", 4, "") + crosspoints({1, 2, 3, 4}) +
                      lines{"up 8 4"}}});
    EXPECT_EQ(*table.held().label(routers::source_labels, 1), "1");
}

TEST_F(EmberplusClient, ALabelLayerThatNamesSomeSignalsSaysHowManyCameAndShowsNumbersForTheRest) {
    table.connect();
    table.in(rootReply());
    table.in(routerReplyFlat());
    table.in(matricesReplyFlat());
    table.in(matrixReply());
    play(table, {{"two of four target labels", bytesIn(labelsReply(1, 2, "Out ")), labelLines("destination", 2, "Out ")},
                 {"every source label", bytesIn(labelsReply(2, 8, "In ")), labelLines("source", 8, "In ")},
                 {"nothing more", timePasses(1000ms),
                  lines{"problem labels came for 2 of the matrix's 4 targets; the others show their numbers",
                        "label destination 3 3", "label destination 4 4"} +
                      crosspoints({1, 2, 3, 4}) + lines{"up 8 4"}}});
}

// A provider that never answers a label request, not even with an empty
// Root, but pushes renames: numbers at first, then the names pushed; a
// resync unanswered again is not said again; a new connection says it again.
TEST_F(EmberplusClient, LabelsNeverAnsweredAreSaidOncePerConnectionAndRenamesStillCome) {
    const auto upWithoutLabels = [&](const lines& labels) {
        play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                     {"root", bytesIn(rootReply()), {"send get-directory 0"}},
                     {"router", bytesIn(routerReplyFlat()), {"send get-directory 0.1"}},
                     {"matrices", bytesIn(matricesReplyFlat()),
                      {"send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2"}},
                     {"the matrix", bytesIn(matrixReply()), {}},
                     {"asked again once", timePasses(1000ms),
                      {"send get-directory 0.2.1", "send get-directory 0.2.2", "timer +1000 ms"}},
                     {"nothing since: a keep-alive asked", timePasses(1000ms),
                      {"send keep-alive request", "timer +1000 ms"}},
                     {"it answers", bytesIn(s101::keepAliveResponse()), {"answered"}},
                     {"given up: up with numbers", timePasses(1000ms),
                      lines{"missing the targets' labels (path 0.2.1) did not come; showing numbers",
                            "missing the sources' labels (path 0.2.2) did not come; showing numbers"} +
                          labels + crosspoints({1, 2, 3, 4}) + lines{"up 8 4"}}});
    };
    upWithoutLabels(labelLines("source", 8, "") + labelLines("destination", 4, ""));
    play(table, {{"a rename pushed", bytesIn(framed(b.entry(b.qualifiedParameter({0, 2, 2, 4}, b.valueOnly("CAM 5"))))),
                  {"label source 5 CAM 5"}},
                 {"the resync", resyncDue(),
                  {"read starts", "send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2",
                   "timer +1000 ms"}},
                 {"only the matrix answers", bytesIn(matrixReply()), {}},
                 {"asked again once", timePasses(1000ms),
                  {"send get-directory 0.2.1", "send get-directory 0.2.2", "timer +1000 ms"}},
                 {"nothing since: a keep-alive asked", timePasses(1000ms), {"send keep-alive request", "timer +1000 ms"}},
                 {"it answers", bytesIn(s101::keepAliveResponse()), {"answered"}},
                 {"given up, not said again, the connection kept, the read over", timePasses(1000ms), {"read ends"}},
                 {"still followed", bytesIn(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections({b.connection(0, {6})}))))),
                  {"crosspoint 1 7"}}});
    table.closed();
    upWithoutLabels({"label source 5 5"});
}

// The requests in each message a step sent (commands and connection
// requests): a provider may act on the first element of a Root only and
// drop the rest unsaid.
std::vector<std::size_t> requestsPerMessage(const routers::router_actions& actions) {
    struct sink : s101::frame_sink {
        std::vector<std::size_t> counts;
        void onMessage(const std::string& ber) override {
            std::vector<glow::element> elements;
            std::string error;
            glow::decode(ber, elements, error);
            counts.push_back(static_cast<std::size_t>(std::count_if(
                elements.begin(), elements.end(),
                [](const glow::element& e) { return e.what == glow::kind::command || e.connections; })));
        }
        void onKeepAliveRequest() override {}
        void onKeepAliveResponse() override {}
        void onFrameProblem(s101::problem) override {}
    } collected;
    s101::reader reader;
    for (const routers::router_action& a : actions)
        if (const auto* sent = std::get_if<routers::act::send>(&a))
            reader.feed(reinterpret_cast<const std::uint8_t*>(sent->bytes.data()), sent->bytes.size(), collected);
    return collected.counts;
}

// Every kind of request at once: the matrix, a label layer and a
// labelsLocation node per signal, each asked again, the resync, a route.
TEST_F(EmberplusClient, EveryRequestIsOneCommandAMessage) {
    routers::emberplus_client both(settingsOfTheTests(), optionsFor("0.1.0"));
    client_table t(both, describeSent);
    std::size_t messages = 0;
    const auto each = [&](const char* step) {
        for (const std::size_t requests : requestsPerMessage(t.lastActions())) {
            EXPECT_EQ(requests, 1u) << step;
            ++messages;
        }
    };
    t.connect();
    each("connect");
    t.in(framed(b.entry(b.qualifiedMatrix(
        {0, 1, 0}, b.matrixContents("video", 2, 2, {0, 2}) +
                       b.signalsWithLocations(true, {{0, {0, 5, 0}}, {1, {0, 5, 1}}}) +
                       b.connections({b.connection(0, {1}), b.connection(1, {0})})))));
    each("the matrix");
    t.pass(1000ms);
    each("asked again");
    t.pass(1000ms);
    t.in(s101::keepAliveResponse());
    t.pass(1000ms);
    t.resync();
    each("the resync");
    t.requestRoute(1, 2);
    each("a route");
    EXPECT_EQ(messages, 1u + 5u + 5u + 5u + 1u);
}

TEST_F(EmberplusClient, AMatrixOfAnotherSizeThanTheDeviceFileIsReported) {
    settings.sources = 16;
    routers::emberplus_client sized(settings, optionsFor("router/matrices/video"));
    client_table t(sized, describeSent);
    t.connect();
    t.in(rootReply());
    t.in(routerReplyFlat());
    EXPECT_EQ(t.in(matricesReplyFlat()),
              (lines{"send get-directory 0.1.0", "problem the matrix has 8 sources (sourceCount); the device file says 16 "
                                                 "(DatabaseSize_0), which is what components use",
                     "send get-directory 0.2.1", "send get-directory 0.2.2"}));
}

TEST_F(EmberplusClient, ALargeReplyInPacketsSplitAtEveryByteReadsTheSame) {
    std::vector<std::string> list;
    for (std::uint32_t t = 0; t < 200; ++t) list.push_back(b.connection(t, {199 - t}, 1));
    const std::string reply =
        framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.matrixContents("video", 200, 200) + b.connections(list))));
    ASSERT_GT(reply.size(), 2500u) << "three packets";
    lines expected{"problem the matrix at 0.1.0 declares no labels: showing numbers"};
    expected = expected + labelLines("source", 200, "") + labelLines("destination", 200, "");
    for (int d = 1; d <= 200; ++d) expected.push_back("crosspoint " + std::to_string(d) + " " + std::to_string(201 - d));
    expected.push_back("up 200 200");
    for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(1000)}) {
        routers::emberplus_client c(settingsOfTheTests(), optionsFor("0.1.0"));
        client_table t(c, describeSent);
        t.connect();
        t.in(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.matrixContents("video", 200, 200)))));
        EXPECT_EQ(t.inPieces(reply, piece), lines{}) << piece;
        EXPECT_EQ(t.pass(1000ms), expected) << piece;
    }
}

TEST_F(EmberplusClient, AMatrixPastTheLinksSizeIsRefusedAndConnectionsWaitForTheSizes) {
    routers::emberplus_client huge(settingsOfTheTests(), optionsFor("0.1.0"));
    client_table t(huge, describeSent);
    t.connect();
    EXPECT_EQ(t.in(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.matrixContents("video", 100000, 8))))),
              (lines{"send get-directory 0.1.0", "fail the matrix at 0.1.0 has 100000 targets; the link takes 0 to 65536"}));

    routers::emberplus_client countless(settingsOfTheTests(), optionsFor("0.1.0"));
    client_table c(countless, describeSent);
    play(c, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
             {"a matrix without sizes", bytesIn(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections({}))))),
              {"send get-directory 0.1.0"}},
             {"nothing more: asked again", timePasses(1000ms), {"send get-directory 0.1.0", "timer +1000 ms"}},
             {"nothing since: a keep-alive asked", timePasses(1000ms), {"send keep-alive request", "timer +1000 ms"}},
             {"it answers", bytesIn(s101::keepAliveResponse()), {"answered"}},
             {"given up: only the connect limit is left", timePasses(1000ms),
              {"missing the matrix's connections (path 0.1.0) did not come; a target without a route shows none",
               "timer +2000 ms"}},
             {"the limit", timePasses(2000ms),
              {"fail the matrix at 0.1.0 gave no targetCount and sourceCount within 5000 ms"}}});

    routers::emberplus_client sized(settingsOfTheTests(), optionsFor("0.1.0"));
    client_table s(sized, describeSent);
    s.connect();
    const std::string sizeless = framed(b.entry(b.qualifiedMatrix(
        {0, 1, 0}, b.connections({b.connection(0, {3}), b.connection(70000, {1})}))));
    play(s, {{"connections before any size", bytesIn(sizeless), {"send get-directory 0.1.0"}},
             {"the sizes, then the connections again", bytesIn(matrixReply({}) + sizeless),
              {"problem a connection of target 70000, outside the matrix's targets"}},
             {"nothing more", timePasses(1000ms),
              lines{"problem the matrix at 0.1.0 declares no labels: showing numbers"} + labelLines("source", 8, "") +
                  labelLines("destination", 4, "") + crosspoints({4, 2, 3, 4}) + lines{"up 8 4"}}});
}

TEST_F(EmberplusClient, KeepAlivesAreAnsweredAlwaysAndSentWhenQuiet) {
    play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                 {"a request while walking", bytesIn(s101::keepAliveRequest()), {"send keep-alive response"}}});
    table.in(rootReply());
    table.in(routerReplyFlat());
    table.in(matricesReplyFlat());
    table.in(matrixReply() + labelsReply(1, 4, "Out ") + labelsReply(2, 8, "In "));
    play(table, {{"due, but just heard and sent", keepAliveDue(), {}},
                 {"quiet", timePasses(5000ms), {}},
                 {"due", keepAliveDue(), {"send keep-alive request"}},
                 {"the answer: alive", bytesIn(s101::keepAliveResponse()), {"answered"}},
                 {"a provider's request", bytesIn(s101::keepAliveRequest()), {"send keep-alive response"}},
                 {"quiet again", timePasses(5000ms), {}},
                 {"due", keepAliveDue(), {"send keep-alive request"}}});
}

TEST_F(EmberplusClient, RoutesAreAbsoluteConnectionsWithinTheMatrix) {
    bool accepted = true;
    table.connect();
    EXPECT_EQ(table.requestRoute(1, 1, &accepted), lines{});
    EXPECT_FALSE(accepted) << "not up";
    table.in(rootReply());
    table.in(routerReplyFlat());
    table.in(matricesReplyFlat());
    table.in(matrixReply() + labelsReply(1, 4, "Out ") + labelsReply(2, 8, "In "));
    for (const auto& [d, s] : std::vector<std::pair<int, int>>{{0, 1}, {5, 1}, {1, 0}, {1, 9}}) {
        EXPECT_EQ(table.requestRoute(d, s, &accepted), lines{}) << d << " " << s;
        EXPECT_FALSE(accepted);
    }
    EXPECT_EQ(table.requestRoute(3, 2, &accepted), lines{"send connect 0.1.0 2<1 op 0"});
    EXPECT_TRUE(accepted);
    const auto& sent = std::get<routers::act::send>(table.lastActions().at(0)).bytes;
    EXPECT_EQ(sent, s101::message(glow::connectionRequest({0, 1, 0}, 2, 1)));
    EXPECT_EQ(table.held().source(3), 3) << "only the provider's report changes it";
    EXPECT_EQ(table.in(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections({b.connection(2, {1}, 1)}))))),
              lines{"crosspoint 3 2"});
}

TEST_F(EmberplusClient, BrokenFramesAndMessagesAreReportedOnceAndSkipped) {
    bringUp();
    std::string badCrc = s101::keepAliveRequest();
    badCrc[5] = static_cast<char>(badCrc[5] ^ 1);
    const std::string good = b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections({b.connection(0, {6})})));
    const std::string brokenAfterGood = s101::message(
        quon::routers::ber::wrap(0x60, quon::routers::ber::wrap(0x6B, good + std::string("\xA0\x7F", 2))));
    play(table, {{"a bad CRC", bytesIn(badCrc + badCrc), {"problem an S101 frame with a bad CRC"}},
                 {"a message broken after a good connection", bytesIn(brokenAfterGood),
                  {"problem a malformed Ember+ message, read up to its fault: a length past the end of its container "
                   "(at byte " + std::to_string(4 + good.size() + 2) + ")",
                   "crosspoint 1 7"}},
                 {"another broken one", bytesIn(s101::message(std::string("\x60\x7F", 2))), {}},
                 {"still followed", bytesIn(framed(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections({b.connection(1, {5})}))))),
                  {"crosspoint 2 6"}},
                 {"16 KiB without a good frame", bytesIn(std::string(16385, 'x')),
                  {"problem bytes outside an S101 frame", "fail no valid S101 frame among 16384 bytes"}}});
}

TEST_F(EmberplusClient, AReconnectWalksAgainAndReportsOnlyLabelsThatChanged) {
    bringUp();
    table.closed();
    play(table, {{"connect", connects(), {"send get-directory root", "timer +1000 ms"}},
                 {"root", bytesIn(rootReply()), {"send get-directory 0"}},
                 {"router", bytesIn(routerReplyFlat()), {"send get-directory 0.1"}},
                 {"matrices", bytesIn(matricesReplyFlat()),
                  {"send get-directory 0.1.0", "send get-directory 0.2.1", "send get-directory 0.2.2"}},
                 {"the matrix", bytesIn(matrixReply()), {}},
                 {"labels, one renamed meanwhile", bytesIn(labelsReply(1, 4, "Out ") + labelsReply(2, 7, "In ") +
                                                          framed(b.entry(b.qualifiedParameter({0, 2, 2, 7}, b.valueOnly("CAM 8"))))),
                  lines{"label source 8 CAM 8"} + crosspoints({1, 2, 3, 4}) + lines{"up 8 4"}}});
}

}  // namespace
