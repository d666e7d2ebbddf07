// The component's hot paths, each beside a floor: hand-written code that
// produces the same command texts without the string library, formatting
// into stack buffers. Every benchmark reports heap allocations per
// operation.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "component_host.h"
#include "quon/script/command_text.h"
#include "quon/script/decode_quon_string.h"
#include "korvane.h"
#include "quon/script/parent_command.h"
#include "quon_message_types.h"
#include "quon_records.h"

namespace {

using quon::bench::answering_host;
using quon::bench::prepareSystem;
using quon::bench::watchingComponent;

// Reports allocations per iteration; call after the loop.
class allocations_per_op {
public:
    explicit allocations_per_op(benchmark::State& state) : state_(state), start_(allocation_counter::count) {}
    ~allocations_per_op() {
        state_.counters["allocs/op"] =
            benchmark::Counter(static_cast<double>(allocation_counter::count - start_), benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& state_;
    long start_;
};

// ---- parsing ---------------------------------------------------------------

const std::string short_command = "myMatrix=12";
const std::string long_command = "level.left=" + std::string(4096, 'x');

void parseCommand(benchmark::State& state, const std::string* text) {
    allocations_per_op count(state);
    for (auto _ : state) {
        const parentCommand parsed(text->c_str());
        benchmark::DoNotOptimize(parsed.value);
    }
}
BENCHMARK_CAPTURE(parseCommand, short, &short_command);
BENCHMARK_CAPTURE(parseCommand, 4KiB, &long_command);

// Floor: split a copy in a stack buffer at the first '='.
void parseCommandFloor(benchmark::State& state, const std::string* text) {
    allocations_per_op count(state);
    static char buffer[8192];
    for (auto _ : state) {
        std::memcpy(buffer, text->c_str(), text->size() + 1);
        char* equals = std::strpbrk(buffer, ".=");
        if (equals) *equals = '\0';
        benchmark::DoNotOptimize(equals);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(parseCommandFloor, short, &short_command);
BENCHMARK_CAPTURE(parseCommandFloor, 4KiB, &long_command);

void decodeReply(benchmark::State& state) {
    allocations_per_op count(state);
    for (auto _ : state) {
        const decodeQUONString decoded("12 40", '\'');
        benchmark::DoNotOptimize(decoded.tokens[1]);
    }
}
BENCHMARK(decodeReply);

void decodeReplyFloor(benchmark::State& state) {
    allocations_per_op count(state);
    for (auto _ : state) {
        char buffer[16];
        std::memcpy(buffer, "12 40", 6);
        char* blank = std::strchr(buffer, ' ');
        *blank = '\0';
        benchmark::DoNotOptimize(blank + 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(decodeReplyFloor);

// ---- the revertive path ---------------------------------------------------

void revertiveNewSource(benchmark::State& state) {
    answering_host host;
    std::unique_ptr<Korvane> component = watchingComponent(host);
    revertiveRecord records[2] = {{1, 0, 5, 12}, {1, 0, 5, 13}};
    int which = 0;
    allocations_per_op count(state);
    for (auto _ : state) {
        component->callback(&records[which], QUON_MSG_REVERTIVE);
        which ^= 1;
    }
}
BENCHMARK(revertiveNewSource);

// Floor: the same three command texts and the hand-back, from stack
// buffers, with the same host.
void revertiveNewSourceFloor(benchmark::State& state) {
    answering_host host;
    int stored = 0;
    revertiveRecord records[2] = {{1, 0, 5, 12}, {1, 0, 5, 13}};
    int which = 0;
    allocations_per_op count(state);
    for (auto _ : state) {
        const revertiveRecord* r = &records[which];
        which ^= 1;
        if (r->device != 1 || r->index != 5 || r->info == stored) continue;
        stored = r->info;
        char text[96];
        std::snprintf(text, sizeof text, "RN %d %d %d", 1, 0, stored);
        char* reply = host.callback(text, QUON_MSG_COMMAND);
        char name[64];
        std::snprintf(name, sizeof name, "%s", reply ? reply : "");
        host.callback(reply, QUON_MSG_RELEASE);
        std::snprintf(text, sizeof text, "TP 'text=%s' '1' 'myMimic'", name);
        host.callback(text, QUON_MSG_COMMAND);
        std::snprintf(text, sizeof text, "HN 'sourceid=%d'", stored);
        host.callback(text, QUON_MSG_COMMAND);
    }
}
BENCHMARK(revertiveNewSourceFloor);

void revertiveSameSource(benchmark::State& state) {
    answering_host host;
    std::unique_ptr<Korvane> component = watchingComponent(host);
    revertiveRecord record{1, 0, 5, 12};
    component->callback(&record, QUON_MSG_REVERTIVE);
    allocations_per_op count(state);
    for (auto _ : state) component->callback(&record, QUON_MSG_REVERTIVE);
}
BENCHMARK(revertiveSameSource);

void revertiveSameSourceFloor(benchmark::State& state) {
    int stored = 12;
    revertiveRecord record{1, 0, 5, 12};
    allocations_per_op count(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(&record);
        if (record.device == 1 && record.index == 5 && record.info != stored) stored = record.info;
        benchmark::DoNotOptimize(stored);
    }
}
BENCHMARK(revertiveSameSourceFloor);

// ---- parent commands ------------------------------------------------------

void returnAll(benchmark::State& state) {
    answering_host host;
    std::unique_ptr<Korvane> component = watchingComponent(host);
    allocations_per_op count(state);
    for (auto _ : state) {
        char* reply = component->callback(const_cast<char*>("return=all"), QUON_MSG_PARENT);
        benchmark::DoNotOptimize(reply);
        component->callback(reply, QUON_MSG_RELEASE);
    }
}
BENCHMARK(returnAll);

// Floor: the same reply text, formatted once into a stack buffer and copied
// into the array the host receives.
void returnAllFloor(benchmark::State& state) {
    allocations_per_op count(state);
    for (auto _ : state) {
        char text[160];
        const int length = std::snprintf(text, sizeof text,
                                         "myMatrix=%d\nmyDestination=%d\nmySourceDB=%d\nmyStatesheet=%s", 1, 5, 0, "");
        char* reply = new char[static_cast<size_t>(length) + 1];
        std::memcpy(reply, text, static_cast<size_t>(length) + 1);
        benchmark::DoNotOptimize(reply);
        delete[] reply;
    }
}
BENCHMARK(returnAllFloor);

void instanceSelection(benchmark::State& state) {
    answering_host host;
    prepareSystem();
    Korvane component(&host, "panels");
    const char* names[2] = {"instance=a", "instance=b"};
    int which = 0;
    allocations_per_op count(state);
    for (auto _ : state) {
        // Alternating names, so that each is a new instance and a lookup.
        char* reply = component.callback(const_cast<char*>(names[which]), QUON_MSG_PARENT);
        component.callback(reply, QUON_MSG_RELEASE);
        which ^= 1;
    }
}
BENCHMARK(instanceSelection);

// Floor: the lookup text, the two numbers, and the device file read with
// stdio into stack buffers.
void instanceSelectionFloor(benchmark::State& state) {
    answering_host host;
    prepareSystem();
    const std::string path =
        std::string(std::getenv("VX_ROOT")) + "/" + std::getenv("VX_SYSTEM") + "/config/system/dev_001.ini";
    allocations_per_op count(state);
    for (auto _ : state) {
        char text[96];
        std::snprintf(text, sizeof text, "SD '%s'", "a");
        char* reply = host.callback(text, QUON_MSG_COMMAND);
        int device = 0, index = 0;
        std::sscanf(reply, "%d %d", &device, &index);
        host.callback(reply, QUON_MSG_RELEASE);
        int size = 0;
        if (FILE* file = std::fopen(path.c_str(), "r")) {
            char line[256];
            bool inSection = false;
            while (std::fgets(line, sizeof line, file)) {
                if (line[0] == '[')
                    inSection = std::strncmp(line, "[Database]", 10) == 0;
                else if (inSection && std::strncmp(line, "DatabaseSize_1=", 15) == 0)
                    size = std::atoi(line + 15);
            }
            std::fclose(file);
        }
        benchmark::DoNotOptimize(size);
    }
}
BENCHMARK(instanceSelectionFloor);

// ---- formatting -----------------------------------------------------------

void longestRegistration(benchmark::State& state) {
    allocations_per_op count(state);
    for (auto _ : state) {
        command_text text;
        text << "RR " << INT32_MIN << " " << INT32_MIN << " " << INT32_MIN << " 'ADD'";
        benchmark::DoNotOptimize(text.text());
    }
}
BENCHMARK(longestRegistration);

void longestRegistrationFloor(benchmark::State& state) {
    allocations_per_op count(state);
    for (auto _ : state) {
        char text[48];
        std::snprintf(text, sizeof text, "RR %d %d %d 'ADD'", INT32_MIN, INT32_MIN, INT32_MIN);
        benchmark::DoNotOptimize(text);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(longestRegistrationFloor);

// ---- memory ---------------------------------------------------------------

void heapPerComponent(benchmark::State& state) {
    answering_host host;
    prepareSystem();
    const int count = static_cast<int>(state.range(0));
    double perComponent = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        std::vector<std::unique_ptr<Korvane>> components;
        components.reserve(static_cast<size_t>(count));
        const size_t reserved = mallinfo2().uordblks;
        for (int i = 0; i < count; ++i) components.emplace_back(new Korvane(&host, "panels"));
        perComponent = static_cast<double>(mallinfo2().uordblks - reserved) / count;
        benchmark::DoNotOptimize(before);
    }
    state.counters["heap bytes/component"] = perComponent;
}
BENCHMARK(heapPerComponent)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
