// tally_graph on its own: which watched destinations light, through routes
// and tie lines, and which changes say so.
#include "quon/engine/tally_graph.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using quon::tally_graph;
using quon::tally::lit;
using quon::tally::point;
using quon::tally::state;
using quon::tally::tie;

point dst(int matrix, int number) { return {matrix, point::end::destination, number}; }
point src(int matrix, int number) { return {matrix, point::end::source, number}; }

// One step of a case.
struct step {
    enum { route, light, ties } what;
    int matrix = 0, destination = 0, source = 0;  // route
    std::vector<lit> lits;                        // light
    std::vector<tie> tieLines;                    // ties
};
step route(int matrix, int destination, int source) { return {step::route, matrix, destination, source, {}, {}}; }
step light(std::vector<lit> lits) { return {step::light, 0, 0, 0, std::move(lits), {}}; }
step ties(std::vector<tie> t) { return {step::ties, 0, 0, 0, {}, std::move(t)}; }

using place = tally_graph::place;

struct graph_case {
    const char* name;
    std::vector<step> steps;
    std::vector<place> lastChanged;  // what the last step says changed
    // Watched destinations 1..4 of matrices 1 and 2, after every step.
    std::vector<state> matrix1, matrix2;
};
void PrintTo(const graph_case& c, std::ostream* out) { *out << c.name; }

constexpr state off = state::off, pvw = state::preview, pgm = state::program;
// The buses of a lit index.
constexpr quon::tally::buses on_none = 0, on_pgm = quon::tally::program_bus, on_pvw = quon::tally::preview_bus,
                             on_iso = quon::tally::iso_bus;

class TallyGraph : public ::testing::TestWithParam<graph_case> {};

TEST_P(TallyGraph, LightsWhatCarriesTheLitPicture) {
    tally_graph graph;
    for (int matrix : {1, 2})
        for (int d = 1; d <= 4; ++d) graph.watch(matrix, d);
    std::vector<place> changed;
    for (const step& s : GetParam().steps) {
        if (s.what == step::route) changed = graph.setRoute(s.matrix, s.destination, s.source);
        if (s.what == step::light) changed = graph.setLits(s.lits);
        if (s.what == step::ties) changed = graph.setTies(s.tieLines);
    }
    EXPECT_EQ(changed, GetParam().lastChanged);
    std::vector<state> one, two;
    for (int d = 1; d <= 4; ++d) {
        one.push_back(graph.statusOf(1, d).now);
        two.push_back(graph.statusOf(2, d).now);
    }
    EXPECT_EQ(one, GetParam().matrix1);
    EXPECT_EQ(two, GetParam().matrix2);
}

const tie oneToTwo{1, 4, 2, 7};    // matrix 1 destination 4 feeds matrix 2 source 7
const tie twoToOne{2, 4, 1, 9};    // and back
const tie twoToTwo{2, 3, 2, 8};    // a chain: matrix 2 destination 3 feeds its own source 8

INSTANTIATE_TEST_SUITE_P(
    Cases, TallyGraph,
    ::testing::Values(
        graph_case{"DirectSource",
                   {route(1, 1, 5), route(1, 2, 5), route(1, 3, 6), light({{"m", 1, src(1, 5), on_pgm}})},
                   {{1, 1}, {1, 2}},
                   {pgm, pgm, off, off},
                   {off, off, off, off}},
        graph_case{"ViaDestination",
                   {route(1, 1, 5), route(1, 3, 5), light({{"m", 1, dst(1, 3), on_pgm}})},
                   {{1, 1}, {1, 3}},
                   {pgm, off, pgm, off},
                   {off, off, off, off}},
        graph_case{"ThroughAChainOfTies",
                   {ties({oneToTwo, twoToTwo}), route(1, 4, 5), route(2, 3, 7), route(2, 1, 8),
                    light({{"m", 1, src(1, 5), on_pvw}})},
                   {{1, 4}, {2, 1}, {2, 3}},
                   {off, off, off, pvw},
                   {pvw, off, pvw, off}},
        graph_case{"ALoopEndsAndCarriesOnePicture",
                   {ties({oneToTwo, twoToOne}), route(1, 4, 9), route(2, 4, 7), route(2, 2, 7),
                    light({{"m", 1, dst(1, 4), on_pgm}})},
                   {{1, 4}, {2, 2}, {2, 4}},
                   {off, off, off, pgm},
                   {off, pgm, off, pgm}},
        graph_case{"ARouteClosingALoopPutsOutWhatCameFromOutside",
                   {ties({oneToTwo, twoToOne}), route(1, 4, 5), route(2, 4, 7), route(2, 2, 7),
                    light({{"m", 1, src(1, 5), on_pgm}}), route(1, 4, 9)},
                   {{1, 4}, {2, 2}, {2, 4}},
                   {off, off, off, off},
                   {off, off, off, off}},
        graph_case{"ProgramWins",
                   {route(1, 1, 5), route(1, 2, 5),
                    light({{"a", 1, dst(1, 1), on_pvw}, {"a", 2, src(1, 5), on_pgm}})},
                   {{1, 1}, {1, 2}},
                   {pgm, pgm, off, off},
                   {off, off, off, off}},
        graph_case{"TwoInputsOnOnePointTheStrongerHolds",
                   {route(1, 1, 5), light({{"a", 1, src(1, 5), on_pgm}, {"b", 3, src(1, 5), on_pvw}}),
                    light({{"a", 1, src(1, 5), on_none}})},
                   {{1, 1}},
                   {pvw, off, off, off},
                   {off, off, off, off}},
        graph_case{"ARouteChangeMovesTheTally",
                   {route(1, 1, 5), route(1, 2, 6), light({{"m", 1, src(1, 5), on_pgm}}), route(1, 2, 5),
                    route(1, 1, 6)},
                   {{1, 1}},
                   {off, pgm, off, off},
                   {off, off, off, off}},
        graph_case{"AMixerInputFollowsTheRouteIntoIt",
                   {route(1, 3, 5), route(1, 1, 6), light({{"m", 1, dst(1, 3), on_pgm}}), route(1, 3, 6)},
                   {{1, 1}},
                   {pgm, off, pgm, off},
                   {off, off, off, off}},
        graph_case{"OffPutsOut",
                   {route(1, 1, 5), light({{"m", 1, src(1, 5), on_pgm}}), light({{"m", 1, src(1, 5), on_none}})},
                   {{1, 1}},
                   {off, off, off, off},
                   {off, off, off, off}},
        graph_case{"ATieAddedAtAReloadCarriesTheTally",
                   {route(1, 4, 5), route(2, 1, 7), light({{"m", 1, src(1, 5), on_pgm}}), ties({oneToTwo})},
                   {{2, 1}},
                   {off, off, off, pgm},
                   {pgm, off, off, off}},
        graph_case{"AnIndexMappedAnewMoves",
                   {route(1, 1, 5), route(1, 2, 6), light({{"m", 1, src(1, 5), on_pgm}}),
                    light({{"m", 1, src(1, 6), on_pgm}})},
                   {{1, 1}, {1, 2}},
                   {off, pgm, off, off},
                   {off, off, off, off}}),
    [](const ::testing::TestParamInfo<graph_case>& info) { return std::string(info.param.name); });

TEST(TallyGraphWhy, NamesTheInputAndTheWayThroughRoutesAndTies) {
    tally_graph graph;
    graph.watch(2, 1);
    graph.setTies({oneToTwo});
    graph.setRoute(1, 4, 5);
    graph.setRoute(2, 1, 7);
    graph.setRoute(1, 2, 5);
    graph.setLits({{"mixer1", 3, dst(1, 2), on_pgm}});
    const tally_graph::reason why = graph.explain(2, 1);
    EXPECT_EQ(why.now, pgm);
    EXPECT_EQ(why.input, "mixer1");
    EXPECT_EQ(why.index, 3);
    EXPECT_EQ(why.shown, (std::vector<point>{dst(2, 1), src(2, 7), dst(1, 4), src(1, 5)}));
    EXPECT_EQ(why.lit, (std::vector<point>{dst(1, 2), src(1, 5)}));
    EXPECT_EQ(quon::reasonText(why),
              "router 2 destination 1 <- source 7 <- tie from router 1 destination 4 <- source 5; "
              "mixer1 index 3 lights router 1 destination 2 <- source 5");
}

TEST(TallyGraphWhy, ADestinationWatchedTwiceStaysWatchedUntilBothGo) {
    tally_graph graph;
    graph.watch(1, 1);
    graph.watch(1, 1);
    graph.setRoute(1, 1, 5);
    graph.unwatch(1, 1);
    EXPECT_EQ(graph.setLits({{"m", 1, src(1, 5), on_pgm}}), (std::vector<place>{{1, 1}}));
    graph.unwatch(1, 1);
    EXPECT_TRUE(graph.setLits({{"m", 1, src(1, 5), on_none}}).empty());
}

}  // namespace

// Cascades. Matrix 1: cameras are sources 1 to 4, routed to destinations 1
// to 4 (their monitors). Studio A's indices 1 to 4 are those sources; its
// program comes back as source 50, shown on destination 5. Studio B's
// index 1 is source 11 (on destination 6); its program is source 51 and,
// directly, the master's index 2. The master's index 1 is destination 20,
// which the router feeds from source 50 or 51.
namespace cascade_setup {

using quon::tally::cascade;
using quon::tally::output;
using quon::tally::outputPoint;

cascade studios(std::vector<std::string> onAirMixers, std::vector<point> onAirDestinations = {}) {
    cascade c;
    c.outputs = {output{"A", on_pgm, src(1, 50)}, output{"B", on_pgm, src(1, 51)},
                 output{"B", on_pgm, outputPoint("B", on_pgm)}};
    c.end.mixers = std::move(onAirMixers);
    c.end.destinations = std::move(onAirDestinations);
    return c;
}
lit a(int index, quon::tally::buses on) { return {"A", index, src(1, index), on}; }
lit b(int index, quon::tally::buses on) { return {"B", index, src(1, 10 + index), on}; }
lit masterRouted(quon::tally::buses on) { return {"master", 1, dst(1, 20), on}; }
lit masterFromB(quon::tally::buses on) { return {"master", 2, outputPoint("B", on_pgm), on}; }

using act = std::function<std::vector<place>(tally_graph&)>;
act set(cascade c) {
    return [c](tally_graph& g) { return g.setCascade(c); };
}
act lights(std::vector<lit> lits) {
    return [lits](tally_graph& g) { return g.setLits(lits); };
}
act routeTo(int destination, int source) {
    return [=](tally_graph& g) { return g.setRoute(1, destination, source); };
}

struct case_ {
    const char* name;
    std::vector<act> acts;
    std::vector<place> lastChanged;
    // Destinations 1 to 6 after the last: "pgm", "hot", "pvw", "off", each
    // with "+iso" when on an ISO bus.
    std::string shown;
};
void PrintTo(const case_& c, std::ostream* out) { *out << c.name; }

std::string shownAt(const tally_graph& g) {
    const char* const words[] = {"off", "pvw", "hot", "pgm"};
    std::string text;
    for (int d = 1; d <= 6; ++d) {
        const quon::tally::status s = g.statusOf(1, d);
        text += (d > 1 ? " " : "") + std::string(words[static_cast<int>(s.now)]) + (s.iso ? "+iso" : "");
    }
    return text;
}

}  // namespace cascade_setup

class TallyCascade : public ::testing::TestWithParam<cascade_setup::case_> {};

TEST_P(TallyCascade, OnAirIsOnAirAllTheWay) {
    tally_graph graph;
    for (int d = 1; d <= 4; ++d) graph.setRoute(1, d, d);
    graph.setRoute(1, 5, 50);
    graph.setRoute(1, 6, 11);
    graph.setRoute(1, 20, 50);
    for (int d = 1; d <= 6; ++d) graph.watch(1, d);
    std::vector<place> changed;
    for (const auto& act : GetParam().acts) changed = act(graph);
    EXPECT_EQ(changed, GetParam().lastChanged);
    EXPECT_EQ(cascade_setup::shownAt(graph), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TallyCascade,
    ::testing::ValuesIn(
        [] {
            using namespace cascade_setup;
            return std::vector<case_>{
                {"WhereNothingSaysWhereOnAirEndsEveryProgramIsOnAir",
                 {set(studios({})), lights({a(1, on_pgm), b(1, on_pvw)})},
                 {{1, 1}, {1, 6}},
                 "pgm off off off off pvw"},
                {"AStudioThatDoesNotReachTheMasterIsHot",
                 {set(studios({"master"})), lights({a(1, on_pgm)})},
                 {{1, 1}},
                 "hot off off off off off"},
                {"TheMastersProgramPutsTheStudiosProgramOnAirThroughTheRouter",
                 {set(studios({"master"})), lights({a(1, on_pgm)}), lights({masterRouted(on_pgm)})},
                 {{1, 1}, {1, 5}},
                 "pgm off off off pgm off"},
                {"ACutOnTheMasterTakesOneStudioOffAirAndPutsTheOtherOn",
                 {set(studios({"master"})), lights({a(1, on_pgm), b(1, on_pgm), masterRouted(on_pgm)}),
                  lights({masterRouted(on_pvw), masterFromB(on_pgm)})},
                 {{1, 1}, {1, 5}, {1, 6}},
                 "hot off off off pvw pgm"},
                {"ARouteChangeIntoTheMasterMovesWhichStudioIsOnAir",
                 {set(studios({"master"})), lights({a(1, on_pgm), b(1, on_pgm), masterRouted(on_pgm)}),
                  routeTo(20, 51)},
                 {{1, 1}, {1, 5}, {1, 6}},
                 "hot off off off off pgm"},
                {"APreviewAndAHotProgramMeetAndHotWins",
                 {set(studios({"master"})), lights({a(1, on_pgm), a(2, on_pvw), masterRouted(on_pvw)})},
                 {{1, 1}, {1, 2}, {1, 5}},
                 "hot pvw off off pvw off"},
                {"OnAirEndsAtTheStationsOutput",
                 {set(studios({}, {dst(1, 30)})), lights({a(1, on_pgm), b(1, on_pgm)}), routeTo(30, 50)},
                 {{1, 1}, {1, 5}},
                 "pgm off off off pgm hot"},
                {"IsoIsALampBesideTheState",
                 {set(studios({"master"})), lights({a(3, on_iso), a(1, static_cast<quon::tally::buses>(on_pgm | on_iso))})},
                 {{1, 1}, {1, 3}},
                 "hot+iso off off+iso off off off"},
                {"TheCascadeGoneEveryProgramIsOnAirAgain",
                 {set(studios({"master"})), lights({a(1, on_pgm)}), set({})},
                 {{1, 1}},
                 "pgm off off off off off"},
                {"MixersFeedingEachOtherAreFollowedOnceRound",
                 {set([] {
                      cascade c = studios({"master"});
                      c.outputs.push_back(output{"A", on_pgm, outputPoint("A", on_pgm)});
                      return c;
                  }()),
                  lights({a(1, on_pgm), b(1, on_pgm), {"B", 2, outputPoint("A", on_pgm), on_pgm},
                         {"A", 5, outputPoint("B", on_pgm), on_pgm}})},
                 {{1, 1}, {1, 6}},
                 "hot off off off off hot"},
            };
        }()),
    [](const ::testing::TestParamInfo<cascade_setup::case_>& info) { return std::string(info.param.name); });

TEST(TallyGraphWhy, NamesEachLevelOfACascade) {
    using namespace cascade_setup;
    tally_graph graph;
    graph.setRoute(1, 1, 1);
    graph.setRoute(1, 20, 50);
    graph.watch(1, 1);
    graph.setCascade(studios({"master"}));
    graph.setLits({a(1, on_pgm), masterRouted(on_pgm), {"B", 2, src(1, 1), on_pvw}});
    const tally_graph::reason why = graph.explain(1, 1);
    EXPECT_EQ(why.now, pgm);
    EXPECT_EQ(quon::reasonText(why),
              "router 1 destination 1 <- source 1; A index 1 lights router 1 source 1; A's program is router 1 "
              "source 50, on program of master index 1, on air");
    graph.setCascade(studios({}, {dst(1, 30)}));
    graph.setRoute(1, 30, 50);
    EXPECT_EQ(quon::reasonText(graph.explain(1, 1)),
              "router 1 destination 1 <- source 1; A index 1 lights router 1 source 1; A's program is router 1 "
              "source 50, on air at router 1 destination 30");
    graph.setLits({{"master", 2, outputPoint("B", on_pgm), on_pgm}, {"B", 1, src(1, 1), on_pgm}});
    graph.setRoute(1, 30, 0);
    EXPECT_EQ(quon::reasonText(graph.explain(1, 1)),
              "router 1 destination 1 <- source 1; A index 1 lights router 1 source 1");
}
