// A revertive through quon-host's engine and Korvane on the emulated CPU
// (Korvane.dll, built by the windows32-msvc preset), beside the same
// through Korvane.so in the same run: one display on the sample system, its
// destination routed to two sources in turn, so that every revertive
// brings a new name. Times are the thread's CPU time. Without Korvane.dll
// (QUON_WINDOWS_MODULES names its folder) the Windows half is skipped,
// saying why.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "component_host.h"
#include "quon/engine/host_engine.h"
#include "quon/engine/system_files.h"
#include "quon/routers/built_in_routers.h"
#include "quon/windows_modules/windows_modules.h"

using namespace quon;

namespace {

// Within this many times Korvane.so's revertive through the engine.
const double target_ratio = 20;

const std::string so_module = KORVANE_MODULE_PATH;
const std::string dll_module = QUON_WINDOWS_MODULES "/Korvane.dll";

// An engine on the sample system with one display watching router 1,
// destination 1.
std::unique_ptr<host_engine> watchingEngine(const std::string& module, std::string& error) {
    setenv("VX_ROOT", QUON_EXAMPLES_DIR "/vx", 1);
    setenv("VX_SYSTEM", "studio", 1);
    module_loaders loaders;
    addWindowsModules(loaders);
    auto engine = std::make_unique<host_engine>(readSystem(systemFolder(QUON_EXAMPLES_DIR "/vx", "studio")),
                                                builtInRouters(), loaders);
    std::optional<std::string> reply;
    if (engine->components().create("u", module, QUON_EXAMPLES_DIR "/panels", error) !=
            engine_components::create_status::created ||
        !engine->components().parent("u", "instance=studio_a_mon_1", reply, error))
        return nullptr;
    return engine;
}

// CPU nanoseconds per revertive over `count` route changes.
double revertives(host_engine& engine, long count, std::string& error) {
    const double start = bench::threadCpuNanoseconds();
    for (long i = 0; i < count; ++i)
        if (!engine.routers().route(1, 1, 1 + (i & 1), error)) return -1;
    return (bench::threadCpuNanoseconds() - start) / static_cast<double>(count);
}

void revertiveThroughEngine(benchmark::State& state, const std::string* module) {
    if (access(module->c_str(), R_OK) != 0) {
        state.SkipWithError((*module + " is not there: build the windows32-msvc preset").c_str());
        return;
    }
    std::string error;
    std::unique_ptr<host_engine> so = watchingEngine(so_module, error);
    std::unique_ptr<host_engine> engine = so ? watchingEngine(*module, error) : nullptr;
    if (!engine) {
        state.SkipWithError(error.c_str());
        return;
    }
    // Korvane.so's revertives warmed, then taken beside the module's in
    // every round, so that both sides see the same load.
    revertives(*so, 20000, error);
    double ns = 0, soNs = 0;
    for (auto _ : state) {
        const double soEach = revertives(*so, 1000, error);
        const double each = soEach < 0 ? -1 : revertives(*engine, 1000, error);
        if (each < 0) {
            state.SkipWithError(error.c_str());
            return;
        }
        ns += each;
        soNs += soEach;
    }
    ns /= static_cast<double>(state.iterations());
    soNs /= static_cast<double>(state.iterations());
    if (engine->components().property("u", "1", "myMimic", "text").value_or("").empty())
        state.SkipWithError("the display shows nothing");
    state.counters["revertive ns"] = ns;
    state.counters["Korvane.so revertive ns"] = soNs;
    state.counters["x Korvane.so"] = ns / soNs;
    state.counters["x target"] = target_ratio;
}
BENCHMARK_CAPTURE(revertiveThroughEngine, so, &so_module);
BENCHMARK_CAPTURE(revertiveThroughEngine, dll, &dll_module);

}  // namespace
