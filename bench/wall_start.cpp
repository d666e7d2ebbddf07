// wall_start: how long `quon-host serve` takes to bring up a large wall
// against real router links, and the memory it takes.
//
//   quon_wall_start [--protocol swp08|videohub] [--displays N] [--per-router N] [--runs N] [--serve PATH]
//
// Writes a system of routers of N destinations each (50,000 by default,
// the most a host holds) and a wall file of one display per destination
// (100,000 by default, on two routers), starts fake routers of the
// protocol (SW-P-08 by default) on loopback in this process, then starts
// `serve` on the wall and reads
// its output: a display is shown when serve prints it with the name of
// the source its router routes to it. Prints, for each of N runs (3 by
// default) and as the spread of the runs, the time from the start of serve
// until the first and until every display is shown, the processor time
// serve took until then (what a machine shared with other work disturbs
// least), and serve's peak resident memory (it is stopped with SIGTERM
// once all are shown). Exits 1 when they are not all shown within a
// minute.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <sstream>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "fake_routers.h"
#include "program_run.h"
#include "quon/engine/system_files.h"

namespace {

// From the start of serve, and serve's peak memory (what it took before
// the start was made quicker).
const double target_first_seconds = 0.25;
const double target_all_seconds = 1;
const double target_peak_mib = 273;

int usage() {
    std::cerr << "usage: quon_wall_start [--protocol swp08|videohub] [--displays N] [--per-router N] [--runs N] "
                 "[--serve PATH]\n";
    return 2;
}

struct layout {
    std::string protocol = "swp08";
    int displays = 100000;
    int perRouter = 50000;
    int routers() const { return (displays + perRouter - 1) / perRouter; }
};

// The system and the wall file under `root`; returns the wall file.
std::string writeWall(const std::string& root, const layout& l, const std::vector<std::uint16_t>& ports) {
    const std::string folder = quon::systemFolder(root, "wall");
    std::filesystem::create_directories(folder);
    for (int router = 1; router <= l.routers(); ++router) {
        std::ofstream device(folder + "/dev_00" + std::to_string(router) + ".ini");
        device << "[Router]\nName=Wall router " << router << "\nProtocol=" << l.protocol << "\nAddress=127.0.0.1:"
               << ports[static_cast<size_t>(router - 1)]
               // SW-P-08 names are 8 characters unless asked for 12: "Input 50000".
               << (l.protocol == "swp08" ? "\nNameLength=12" : "") << "\n[Database]\nDatabaseSize_0=" << l.perRouter
               << "\nDatabaseSize_1=" << l.perRouter << "\n";
    }
    std::ofstream(folder + "/instances.ini") << "[Instances]\n";
    const std::string wall = root + "/wall.toml";
    std::ofstream file(wall);
    for (int i = 0; i < l.displays; ++i)
        file << "[[display]]\nname = \"d" << i + 1 << "\"\nmatrix = " << i / l.perRouter + 1
             << "\ndestination = " << i % l.perRouter + 1 << "\n";
    return wall;
}

struct run_result {
    double first = -1;    // s from serve's start to the first display shown
    double all = -1;      // s to the last display shown
    double cpu = -1;      // s of processor time serve took until then
    double peakMiB = -1;  // serve's peak resident memory
    size_t shown = 0;
    int exitCode = 0;
    std::string errors;
};

// A number of /proc/PID/status ("VmHWM:   1234 kB") in kB, or -1.
long statusKilobytes(int pid, const std::string& key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

// User and system time of a running process, in seconds, or -1.
double processorSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis; utime and stime are
    // the 14th and 15th of the line.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

run_result runServe(const std::string& serve, const std::string& root, const std::string& wall, const layout& l) {
    run_result r;
    program_run how;
    how.program = serve;
    how.arguments = {"serve", wall};
    how.environment = {{"VX_ROOT", root}, {"VX_SYSTEM", "wall"}};
    const auto start = std::chrono::steady_clock::now();
    auto host = std::make_unique<running_program>(how);
    std::vector<bool> shown(static_cast<size_t>(l.displays) + 1, false);
    const auto since = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    while (r.shown < static_cast<size_t>(l.displays) && since() < 60) {
        const std::optional<std::string> line = host->readLine(60 - since());
        if (!line) break;
        // "2026-12-09T10:30:24.576Z d12: [ Input 12 ] (umd_default)": past
        // the time stamp.
        const size_t at = !line->empty() && std::isdigit(static_cast<unsigned char>((*line)[0])) ? line->find(' ') + 1 : 0;
        const size_t mark = line->find(": [ Input ", at);
        if (mark == std::string::npos || (*line)[at] != 'd') continue;
        const int index = std::atoi(line->c_str() + at + 1);
        if (index < 1 || index > l.displays) continue;
        const int destination = (index - 1) % l.perRouter + 1;
        const std::string expected = std::to_string(destination) + " ]";
        if (line->compare(mark + 10, expected.size(), expected) != 0) continue;
        if (shown[static_cast<size_t>(index)]) continue;
        shown[static_cast<size_t>(index)] = true;
        if (++r.shown == 1) r.first = since();
    }
    r.all = since();
    r.cpu = processorSeconds(host->pid());
    r.peakMiB = statusKilobytes(host->pid(), "VmHWM") / 1024.0;
    host->signal(SIGTERM);
    r.exitCode = host->wait(60);
    if (r.shown < static_cast<size_t>(l.displays)) r.errors = host->errors().substr(0, 2000);
    return r;
}

// "a to b" over the runs, or the one figure.
std::string spread(const std::vector<run_result>& runs, double run_result::*figure, const char* format) {
    double low = 0, high = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const double v = runs[i].*figure;
        low = i == 0 ? v : std::min(low, v);
        high = i == 0 ? v : std::max(high, v);
    }
    char text[64];
    if (low == high)
        std::snprintf(text, sizeof text, format, low);
    else {
        char a[24], b[24];
        std::snprintf(a, sizeof a, format, low);
        std::snprintf(b, sizeof b, format, high);
        std::snprintf(text, sizeof text, "%s to %s", a, b);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    layout l;
    int runCount = 3;
    std::string serve = QUON_HOST_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (option == "--serve") {
            serve = value;
        } else if (option == "--protocol" && (value == "swp08" || value == "videohub")) {
            l.protocol = value;
        } else if (option == "--displays" || option == "--per-router") {
            const int number = std::atoi(value.c_str());
            if (number < 1 || number > (option == "--displays" ? 1000000 : 50000)) return usage();
            (option == "--displays" ? l.displays : l.perRouter) = number;
        } else if (option == "--runs") {
            runCount = std::atoi(value.c_str());
            if (runCount < 1 || runCount > 100) return usage();
        } else {
            return usage();
        }
    }

    // The routers, on their own thread: destination d routed from source d,
    // named "Input d".
    boost::asio::io_context io;
    std::vector<std::unique_ptr<quon::fake::fake_router>> routers;
    std::vector<std::uint16_t> ports;
    for (int router = 0; router < l.routers(); ++router) {
        const quon::fake::router_state state = quon::fake::numberedState(l.perRouter, l.perRouter);
        routers.push_back(l.protocol == "videohub" ? quon::fake::makeFakeVideohub(io, state)
                                                   : quon::fake::makeFakeSwp08(io, state));
        ports.push_back(routers.back()->port());
    }
    auto work = boost::asio::make_work_guard(io);
    std::thread loop([&io] { io.run(); });

    const std::string root = "/tmp/quon-wall-start-" + std::to_string(getpid());
    const std::string wall = writeWall(root, l, ports);

    std::printf("%d displays on %d %s routers of %d destinations (fake, loopback)\n", l.displays, l.routers(),
                l.protocol.c_str(), l.perRouter);
    std::vector<run_result> runs;
    bool allShown = true;
    for (int run = 1; run <= runCount; ++run) {
        runs.push_back(runServe(serve, root, wall, l));
        const run_result& r = runs.back();
        std::printf("run %d: first display %.3f s, every display %.3f s (%zu of %d shown), serve's processor time "
                    "%.2f s, peak %.1f MiB, exit code %d\n",
                    run, r.first, r.all, r.shown, l.displays, r.cpu, r.peakMiB, r.exitCode);
        std::fflush(stdout);
        if (r.shown < static_cast<size_t>(l.displays)) {
            std::fprintf(stderr, "not every display was shown; serve said:\n%s\n", r.errors.c_str());
            allShown = false;
            break;
        }
    }

    work.reset();
    io.stop();
    loop.join();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);

    std::printf("first display shown after %s s (target: within %.2f s)\n",
                spread(runs, &run_result::first, "%.3f").c_str(), target_first_seconds);
    std::printf("every display shown after %s s (target: within %.0f s)\n", spread(runs, &run_result::all, "%.3f").c_str(),
                target_all_seconds);
    std::printf("serve's processor time until then: %s s\n", spread(runs, &run_result::cpu, "%.2f").c_str());
    std::printf("serve's peak resident memory: %s MiB (target: at most %.0f MiB)\n",
                spread(runs, &run_result::peakMiB, "%.1f").c_str(), target_peak_mib);
    return allShown ? 0 : 1;
}
