// Reading a wall file of N displays (with or without a TSL screen for
// most), the first thing serve does: the whole reading (`parseWall`),
// beside toml++'s parse of the same text alone.
#include <benchmark/benchmark.h>
#include <toml++/toml.h>

#include <string>
#include <vector>

#include "quon/live/wall_file.h"

namespace {

// The shape `quon_wall_start` writes: one display a destination, two
// routers; with `screens`, a TSL output and 60,000 of them on its screen.
std::string wallText(int displays, bool screens) {
    std::string text = screens ? "[umd]\nto = \"tsl5+udp://127.0.0.1:8900\"\nrefresh = \"1s\"\n\n" : "";
    const int perRouter = (displays + 1) / 2;
    for (int i = 0; i < displays; ++i)
        text += "[[display]]\nname = \"d" + std::to_string(i + 1) + "\"\nmatrix = " + std::to_string(i / perRouter + 1) +
                "\ndestination = " + std::to_string(i % perRouter + 1) + "\n" +
                (screens && i < 60000 ? "umd = { index = " + std::to_string(i) + " }\n" : "");
    return text;
}

void wallRead(benchmark::State& state) {
    const std::string text = wallText(static_cast<int>(state.range(0)), state.range(1) == 1);
    for (auto _ : state) {
        quon::wall wall;
        std::vector<std::string> errors;
        if (!quon::parseWall(text, "/tmp/wall.toml", wall, errors)) state.SkipWithError(errors.front().c_str());
        benchmark::DoNotOptimize(wall.displays.data());
    }
    state.counters["ns_per_display"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate |
                                                                    benchmark::Counter::kInvert);
}
BENCHMARK(wallRead)->Args({1000, 0})->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMillisecond);

void wallReadTomlAlone(benchmark::State& state) {
    const std::string text = wallText(static_cast<int>(state.range(0)), false);
    for (auto _ : state) {
        toml::table table = toml::parse(text);
        benchmark::DoNotOptimize(&table);
    }
}
BENCHMARK(wallReadTomlAlone)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
