// The monitor wall in quon-host's engine: N displays, each watching its own
// destination of one router with N destinations; a salvo changes every
// destination at once, and every display follows. The system is generated
// for each N and removed afterwards.
//
// Each size also times the component's own revertive (its floor, the same
// code as revertiveNewSource, on a component of the wall's module) and
// reports the ratio beside its target (both in the thread's CPU time, so
// that preemption on a shared machine counts in neither), and the host
// memory per display beside its target: a regression guard to read, not a
// check that fails, since timings are noisy.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "component_host.h"
#include "quon/engine/host_engine.h"
#include "quon/engine/module_cache.h"
#include "quon/engine/system_files.h"
#include "quon/output/display_lines.h"
#include "quon/routers/built_in_routers.h"

using namespace quon;

namespace {

// Routers of at most 50,000 destinations (a host holds no larger router),
// as many as `size` displays need, each with as many sources, and an
// instance per display ("wall_N" = "router destination").
const int router_size = 50000;

// What the wall is held to: a revertive through engine and component
// within this many times the component's own, and the host's memory per
// display.
const double target_ratio = 1.5;
const double target_bytes = 1024;

std::string generateSystem(int size) {
    const std::string root = "/tmp/quon-wall-" + std::to_string(getpid()) + "-" + std::to_string(size);
    const std::string folder = systemFolder(root, "wall");
    std::filesystem::create_directories(folder);
    const int per = std::min(size, router_size);
    for (int router = 1; (router - 1) * per < size; ++router) {
        std::ofstream device(folder + "/dev_00" + std::to_string(router) + ".ini");
        device << "[Router]\nName=Wall router\n[Database]\nDatabaseSize_0=" << per << "\nDatabaseSize_1=" << per
               << "\n[Database_0]\n";
        for (int i = 1; i <= per; ++i) device << i << "=SRC " << i << "\n";
        device << "[Crosspoints]\n";
        for (int i = 1; i <= per; ++i) device << i << "=" << i << "\n";
    }
    std::ofstream instances(folder + "/instances.ini");
    instances << "[Instances]\n";
    for (int i = 1; i <= size; ++i) instances << "wall_" << i << "=" << (i - 1) / per + 1 << " " << (i - 1) % per + 1 << "\n";
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "wall", 1);
    return root;
}

// The component's own revertive (bench::componentRevertiveNanoseconds) on
// one made by the module the engine loads; 0 with `error` when it makes
// none.
double moduleRevertiveNanoseconds(std::string& error) {
    module_cache modules;
    const load_function load = modules.load(KORVANE_MODULE_PATH, error);
    bench::answering_host host;
    bench::prepareSystem();
    const std::unique_ptr<quon_client_callback> component(load ? load(&host, "panels") : nullptr);
    if (!component) {
        if (load) error = std::string(KORVANE_MODULE_PATH) + ": made no component";
        return 0;
    }
    bench::watch(*component);
    return bench::componentRevertiveNanoseconds(*component);
}

void monitorWallSalvo(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int per = std::min(size, router_size);
    const std::string root = generateSystem(size);
    const size_t heapBefore = mallinfo2().uordblks;
    double bytesPerComponent = 0;
    {
        host_engine engine(readSystem(systemFolder(root, "wall")), builtInRouters());
        std::string error;
        for (int i = 1; i <= size; ++i) {
            const std::string name = "u" + std::to_string(i);
            engine.components().create(name, KORVANE_MODULE_PATH, QUON_EXAMPLES_DIR "/panels", error);
            std::optional<std::string> reply;
            engine.components().parent(name, ("instance=wall_" + std::to_string(i)).c_str(), reply, error);
        }
        bytesPerComponent = static_cast<double>(mallinfo2().uordblks - heapBefore) / size;

        // The floor is timed once the wall is built, just before its
        // salvos: a change of the machine's speed while the wall was being
        // built (seconds at 100,000) stays out of the ratio. Its component
        // comes from the module the wall's come from: a copy linked into
        // this program runs at another place, which alone moves its time
        // by some 4 %.
        const double floorNs = moduleRevertiveNanoseconds(error);
        if (floorNs <= 0) state.SkipWithError(error.c_str());
        int offset = 1;
        std::vector<std::pair<int, int>> routes(static_cast<size_t>(per));
        // Every destination to the source `offset` further on.
        const auto salvo = [&] {
            for (int d = 1; d <= per; ++d) routes[static_cast<size_t>(d - 1)] = {d, (d + offset - 1) % per + 1};
            const double start = bench::threadCpuNanoseconds();
            for (int router = 1; (router - 1) * per < size; ++router)
                if (!engine.routers().salvo(router, routes, error)) state.SkipWithError(error.c_str());
            ++offset;
            return bench::threadCpuNanoseconds() - start;
        };
        const long allocationsBefore = allocation_counter::count;
        // One salvo untimed first, as a running host has long had: it grows
        // the engine's queue to a salvo's size once, and brings the wall
        // back into the caches the floor's loop took.
        salvo();
        double salvosNs = 0;  // CPU time, as the floor's
        for (auto _ : state) salvosNs += salvo();
        // The process's allocations (engine, component, string library) per
        // revertive, the first salvo's queue growth included.
        const double allocations = static_cast<double>(allocation_counter::count - allocationsBefore) /
                                   static_cast<double>(state.iterations() + 1) / size;
        const double perRevertiveNs = salvosNs / static_cast<double>(state.iterations()) / size;
        // What the last salvo (offset - 1) routed to the first and the last
        // destination of each router.
        const auto source = [&](int destination) { return "SRC " + std::to_string((destination + offset - 2) % per + 1); };
        if (engine.components().property("u" + std::to_string(size), "1", "myMimic", "text") != source(per) ||
            engine.components().property("u1", "1", "myMimic", "text") != source(1))
            state.SkipWithError("the displays did not follow");
        // Once every display has run a while: what it holds for good.
        const double runningBytes = static_cast<double>(mallinfo2().uordblks - heapBefore) / size;
        state.counters["revertives"] = size;
        state.counters["per revertive"] = benchmark::Counter(
            static_cast<double>(size), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        state.counters["component revertive ns"] = floorNs;
        state.counters["x component"] = perRevertiveNs / floorNs;
        state.counters["allocs/revertive"] = allocations;
        state.counters["x component target"] = target_ratio;
        state.counters["host bytes/component"] = bytesPerComponent;
        state.counters["running bytes/component"] = runningBytes;
        state.counters["bytes target"] = target_bytes;
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}
BENCHMARK(monitorWallSalvo)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
