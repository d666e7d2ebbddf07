// A routing dump from a real router through the whole live path: a fake
// Videohub on loopback pushes a VIDEO OUTPUT ROUTING block that changes
// every one of its 1,000 destinations (or a fake Ember+ provider one
// connection update of its 1,000 targets, in S101 packets); the link reads
// it, the engine turns it into revertives, and 1,000 Korvane displays look
// up their new names. Timed until the last display shows its new name.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_routers.h"
#include "glow_builder.h"
#include "quon/engine/host_engine.h"
#include "quon/routers/emberplus/emberplus_s101.h"
#include "quon/routers/network_routers.h"
#include "quon/routers/built_in_routers.h"
#include "run_until.h"

using namespace quon;

namespace {

// What the router sends when destination d takes source (d - 1 + offset) % size + 1.
std::string dumpOf(bool emberplus, int size, int offset) {
    if (emberplus) {
        const fake::glow_builder b;
        std::vector<std::string> connections;
        for (int d = 0; d < size; ++d)
            connections.push_back(b.connection(d, {static_cast<std::uint32_t>((d + offset) % size)}, 1));
        return routers::s101::message(b.root(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections(connections)))));
    }
    std::string dump = "VIDEO OUTPUT ROUTING:\n";
    for (int d = 0; d < size; ++d) dump += std::to_string(d) + " " + std::to_string((d + offset) % size) + "\n";
    return dump + "\n";
}

void routingDump(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const bool emberplus = state.range(1) == 1;
    boost::asio::io_context loop;
    auto router = emberplus ? fake::makeFakeEmberplus(loop, fake::numberedState(size, size))
                            : fake::makeFakeVideohub(loop, fake::numberedState(size, size));

    const std::string root = "/tmp/quon-dump-" + std::to_string(getpid());
    const std::string folder = systemFolder(root, "dump");
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/dev_001.ini") << "[Router]\nProtocol=" << (emberplus ? "emberplus" : "videohub")
                                           << "\nAddress=127.0.0.1:" << router->port()
                                           << "\n[Database]\nDatabaseSize_0=" << size << "\nDatabaseSize_1=" << size
                                           << "\n";
    {
        std::ofstream instances(folder + "/instances.ini");
        instances << "[Instances]\n";
        for (int i = 1; i <= size; ++i) instances << "d" << i << "=1 " << i << "\n";
    }
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "dump", 1);
    {
        router_registry routers = builtInRouters();
        addNetworkRouters(routers, loop);
        host_engine engine(readSystem(folder), routers);
        std::string error;
        for (int i = 1; i <= size; ++i) {
            const std::string name = "d" + std::to_string(i);
            engine.components().create(name, KORVANE_MODULE_PATH, QUON_EXAMPLES_DIR "/panels", error);
            std::optional<std::string> reply;
            engine.components().parent(name, ("instance=d" + std::to_string(i)).c_str(), reply, error);
        }
        engine.routers().start();
        const std::string last = "d" + std::to_string(size);
        const auto shows = [&](int source) {
            return engine.components().property(last, "1", "myMimic", "text") == "Input " + std::to_string(source);
        };
        if (!runUntil(loop, [&] { return shows(size); })) state.SkipWithError("the link did not come up");

        int offset = 1;
        for (auto _ : state) {
            state.PauseTiming();
            const std::string dump = dumpOf(emberplus, size, offset);
            const int expected = (size - 1 + offset) % size + 1;
            ++offset;
            state.ResumeTiming();
            router->sendGarbage(dump);
            if (!runUntil(loop, [&] { return shows(expected); })) state.SkipWithError("the displays did not follow");
        }
        state.counters["displays"] = size;
        state.SetLabel(emberplus ? "emberplus" : "videohub");
        state.counters["per display"] = benchmark::Counter(
            static_cast<double>(size), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
        engine.components().destroyAll();
        engine.routers().stop();
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}
BENCHMARK(routingDump)->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
