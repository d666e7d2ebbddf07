// Host CPU per tally change, in the engine's graph alone (no sockets): a
// wall of 10,000 displays on four routers, four mixers of 64 inputs each fed
// by router destinations, and tie lines between the routers; and a cut of a
// camera that 1,000 displays show, directly and through tie lines.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "quon/engine/tally_graph.h"

using quon::tally_graph;
using namespace quon::tally;

namespace {

constexpr int kRouters = 4;
constexpr int kDisplaysPerRouter = 2500;  // 10,000 in all
constexpr int kMixers = 4;
constexpr int kInputs = 64;
constexpr int kSources = 256;

// Mixer m's input i is fed by destination 3000 + i of router m; each such
// destination, and each display, shows one of the router's 256 sources;
// destination 3100 + r of router 1 feeds source 200 + r of router r + 1.
struct wall_graph {
    tally_graph graph;
    wall_graph() {
        std::vector<tie> ties;
        for (int r = 2; r <= kRouters; ++r) ties.push_back({1, 3100 + r, r, 200 + r});
        graph.setTies(ties);
        for (int r = 1; r <= kRouters; ++r) {
            for (int d = 1; d <= kDisplaysPerRouter; ++d) {
                graph.watch(r, d);
                graph.setRoute(r, d, (d * 7 + r) % kSources + 1);
            }
            for (int i = 1; i <= kInputs; ++i) graph.setRoute(r, 3000 + i, (i * 13 + r) % kSources + 1);
            if (r == 1)
                for (int t = 2; t <= kRouters; ++t) graph.setRoute(1, 3100 + t, t);
        }
    }
    static lit input(int mixer, int index, quon::tally::buses now) {
        return {"mixer" + std::to_string(mixer), index, {mixer, point::end::destination, 3000 + index}, now};
    }
};

// A cut on one mixer: the old program input to off, a new one to program;
// each lights and puts out some 40 displays of its router.
void tallyChangeOnTenThousandDisplays(benchmark::State& state) {
    wall_graph wall;
    for (int m = 1; m <= kMixers; ++m) wall.graph.setLits({wall_graph::input(m, 1, quon::tally::program_bus)});
    int at = 1;
    size_t changed = 0;
    for (auto _ : state) {
        const int mixer = at % kMixers + 1;
        const int was = (at / kMixers) % kInputs + 1;
        const int now = was % kInputs + 1;
        changed += wall.graph.setLits({wall_graph::input(mixer, was, 0), wall_graph::input(mixer, now, quon::tally::program_bus)}).size();
        ++at;
    }
    state.counters["displays_per_cut"] = benchmark::Counter(static_cast<double>(changed), benchmark::Counter::kAvgIterations);
}
BENCHMARK(tallyChangeOnTenThousandDisplays);

// A route change at a mixer's input: the tally moves from the displays of
// one source to those of another.
void routeChangeIntoAMixerInput(benchmark::State& state) {
    wall_graph wall;
    wall.graph.setLits({wall_graph::input(1, 1, quon::tally::program_bus)});
    int source = 1;
    for (auto _ : state) {
        source = source % kSources + 1;
        benchmark::DoNotOptimize(wall.graph.setRoute(1, 3001, source));
    }
}
BENCHMARK(routeChangeIntoAMixerInput);

// A camera on 1,000 displays, 500 of them through a tie line: its cut
// lights all of them.
void cutOfACameraOnAThousandDisplays(benchmark::State& state) {
    tally_graph graph;
    graph.setTies({{1, 900, 2, 1}});
    graph.setRoute(1, 900, 1);
    for (int d = 1; d <= 500; ++d) {
        graph.watch(1, d);
        graph.setRoute(1, d, 1);
        graph.watch(2, d);
        graph.setRoute(2, d, 1);
    }
    const lit on{"mixer1", 1, {1, point::end::source, 1}, quon::tally::program_bus};
    lit off = on;
    off.on = 0;
    size_t changed = 0;
    for (auto _ : state) {
        changed += graph.setLits({on}).size();
        changed += graph.setLits({off}).size();
    }
    state.counters["displays_per_cut"] =
        benchmark::Counter(static_cast<double>(changed) / 2, benchmark::Counter::kAvgIterations);
}
BENCHMARK(cutOfACameraOnAThousandDisplays)->Unit(benchmark::kMicrosecond);

}  // namespace
