// What a Windows module on win32's emulated CPU pays per message: native
// code calls an emulated function, which calls a native host back through
// its vtable (thiscall) and returns; beside the floor of the same two calls
// natively. A reference for the engine's Windows modules.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "pe_builder.h"
#include "quon/win32/process.h"

namespace {

using namespace quon::win32;

struct native_host {
    virtual ~native_host() = default;
    virtual int callback(int value) { return value + 1; }
};

__attribute__((noinline)) int emulatedLikeCall(native_host* host) { return host->callback(42); }

// `leaf`: the host's callback runs inside the CPU's loop (machine::addNative),
// or stops emulation and runs between two runs of it.
void win32CallWithCallback(benchmark::State& state, bool leaf) {
    pe_builder image;
    image.imageBase = 0x10000000;
    image.dll = true;
    image.noEntry = true;
    // f(host): host->vtable[1](42), thiscall; returns what it returns.
    image.bytes({0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x01, 0x6A, 0x2A, 0xFF, 0x50, 0x04, 0xC3});
    image.exports = {{"f", 0}};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("win32-bench-" + std::to_string(getpid()) + ".dll")).string();
    writeFile(path, image.build());
    process p({});
    const uint32_t module = p.load(path);
    std::filesystem::remove(path);
    machine& cpu = p.cpu();
    const uint32_t unused = cpu.addNative("host::destructor", 4, [](native_call&) {});
    const uint32_t callback =
        cpu.addNative("host::callback", 4, [](native_call& call) { call.result = call.arg(0) + 1; }, leaf);
    const uint32_t host = cpu.makeObject({unused, callback});
    const uint32_t f = p.exportAddress(module, "f");
    for (auto _ : state) benchmark::DoNotOptimize(cpu.call(f, {host}));
}
BENCHMARK_CAPTURE(win32CallWithCallback, leaf, true);
BENCHMARK_CAPTURE(win32CallWithCallback, stopping, false);

void win32CallWithCallbackFloor(benchmark::State& state) {
    native_host host;
    for (auto _ : state) benchmark::DoNotOptimize(emulatedLikeCall(&host));
}
BENCHMARK(win32CallWithCallbackFloor);

}  // namespace
