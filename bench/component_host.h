// What the component benchmarks share: a host that answers the component's
// questions from its own texts, the sample system they read, and a
// component watching one destination. The monitor wall times the same
// revertive beside its own, so that their ratio comes from one run.
#ifndef QUON_BENCH_COMPONENT_HOST_H
#define QUON_BENCH_COMPONENT_HOST_H

#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "korvane.h"
#include "quon_message_types.h"
#include "quon_records.h"

namespace quon {
namespace bench {

// A host that answers "RN" and "SD" with texts of its own (no allocation)
// and discards everything else.
class answering_host : public quon_client_callback {
public:
    char* callback(void* data, int type) override {
        if (type != QUON_MSG_COMMAND) return nullptr;
        const char* text = static_cast<const char*>(data);
        benchmark::DoNotOptimize(text);
        if (text[0] == 'R' && text[1] == 'N') return name_;
        if (text[0] == 'S' && text[1] == 'D') return instance_;
        return nullptr;
    }

private:
    char name_[16] = "CAM 12";
    char instance_[16] = "1 5";
};

// The sample router every selection reads: router 1, 64 destinations. The
// files are written once; the environment is set at every call, since the
// monitor wall points it at its own systems in between.
inline void prepareSystem() {
    static const std::string root = [] {
        const std::string folder = "/tmp/quon-bench-" + std::to_string(getpid());
        std::filesystem::create_directories(folder + "/main/config/system");
        std::ofstream(folder + "/main/config/system/dev_001.ini") << "[Database]\nDatabaseSize_0=64\nDatabaseSize_1=64\n";
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all("/tmp/quon-bench-" + std::to_string(getpid()), ignored);
        });
        return folder;
    }();
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "main", 1);
}

// Sets a component made after prepareSystem to watch router 1, destination
// 5.
inline void watch(quon_client_callback& component) {
    char* reply = component.callback(const_cast<char*>("myMatrix=1"), QUON_MSG_PARENT);
    component.callback(reply, QUON_MSG_RELEASE);
    reply = component.callback(const_cast<char*>("myDestination=5"), QUON_MSG_PARENT);
    component.callback(reply, QUON_MSG_RELEASE);
}

// A component of the sample system watching router 1, destination 5.
inline std::unique_ptr<Korvane> watchingComponent(answering_host& host) {
    prepareSystem();
    std::unique_ptr<Korvane> component(new Korvane(&host, "panels"));
    watch(*component);
    return component;
}

// The CPU time of the calling thread, in nanoseconds: what a ratio of two
// timings on a shared machine is taken in, so that time spent preempted by
// other processes counts in neither.
inline double threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The own revertive with a new source (revertiveNewSource) of `component`,
// set to watch (watch) and answered by an answering_host, in nanoseconds of
// CPU time: the best of a few rounds.
inline double componentRevertiveNanoseconds(quon_client_callback& component) {
    revertiveRecord records[2] = {{1, 0, 5, 12}, {1, 0, 5, 13}};
    const int rounds = 5, count = 200000;
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        const double start = threadCpuNanoseconds();
        for (int i = 0; i < count; ++i) component.callback(&records[i & 1], QUON_MSG_REVERTIVE);
        const double ns = (threadCpuNanoseconds() - start) / count;
        if (round == 0 || ns < best) best = ns;
    }
    return best;
}

}  // namespace bench
}  // namespace quon

#endif
