// The monitor wall in quon-host's engine: N displays, each watching its own
// destination of one router with N destinations; a salvo changes every
// destination at once, and every display follows. The system is generated
// for each N and removed afterwards.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/engine/system_files.h"
#include "quon/output/display_lines.h"
#include "quon/routers/built_in_routers.h"

using namespace quon;

namespace {

// dev_001.ini with `size` sources and destinations, and an instance per
// destination ("wall_N" = "1 N").
std::string generateSystem(int size) {
    const std::string root = "/tmp/quon-wall-" + std::to_string(getpid()) + "-" + std::to_string(size);
    const std::string folder = systemFolder(root, "wall");
    std::filesystem::create_directories(folder);
    std::ofstream device(folder + "/dev_001.ini");
    device << "[Router]\nName=Wall router\n[Database]\nDatabaseSize_0=" << size << "\nDatabaseSize_1=" << size
           << "\n[Database_0]\n";
    for (int i = 1; i <= size; ++i) device << i << "=SRC " << i << "\n";
    device << "[Crosspoints]\n";
    for (int i = 1; i <= size; ++i) device << i << "=" << i << "\n";
    std::ofstream instances(folder + "/instances.ini");
    instances << "[Instances]\n";
    for (int i = 1; i <= size; ++i) instances << "wall_" << i << "=1 " << i << "\n";
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "wall", 1);
    return root;
}

void monitorWallSalvo(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const std::string root = generateSystem(size);
    const size_t heapBefore = mallinfo2().uordblks;
    double bytesPerComponent = 0;
    {
        host_engine engine(readSystem(systemFolder(root, "wall")), builtInRouters());
        std::string error;
        for (int i = 1; i <= size; ++i) {
            const std::string name = "u" + std::to_string(i);
            engine.create(name, KORVANE_MODULE_PATH, QUON_EXAMPLES_DIR "/panels", error);
            std::optional<std::string> reply;
            engine.parent(name, ("instance=wall_" + std::to_string(i)).c_str(), reply, error);
        }
        bytesPerComponent = static_cast<double>(mallinfo2().uordblks - heapBefore) / size;

        int offset = 1;
        std::vector<std::pair<int, int>> routes(static_cast<size_t>(size));
        for (auto _ : state) {
            for (int d = 1; d <= size; ++d) routes[static_cast<size_t>(d - 1)] = {d, (d + offset - 1) % size + 1};
            ++offset;
            engine.salvo(1, routes, error);
            }
        if (displayLine(engine, "u1").find("SRC") == std::string::npos) state.SkipWithError("the displays did not follow");
        state.counters["revertives"] = size;
        state.counters["ns/revertive"] = benchmark::Counter(
            static_cast<double>(size), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        state.counters["host bytes/component"] = bytesPerComponent;
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}
BENCHMARK(monitorWallSalvo)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
