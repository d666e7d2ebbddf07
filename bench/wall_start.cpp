// wall_start: how long `quon-host serve` takes to bring up a large wall
// against real router links, and the memory it takes.
//
//   quon_wall_start [--protocol swp08|videohub] [--displays N] [--per-router N] [--serve PATH]
//
// Writes a system of routers of N destinations each (50,000 by default,
// the most a host holds) and a wall file of one display per destination
// (100,000 by default, on two routers), starts fake routers of the
// protocol (SW-P-08 by default) on loopback in this process, then starts
// `serve` on the wall and reads
// its output: a display is shown when serve prints it with the name of
// the source its router routes to it. Prints the time from the start of
// serve until every display is shown, and serve's peak resident memory
// (it is stopped with SIGTERM once all are shown). Exits 1 when they are
// not all shown within a minute.
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
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
    std::cerr << "usage: quon_wall_start [--protocol swp08|videohub] [--displays N] [--per-router N] [--serve PATH]\n";
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

}  // namespace

int main(int argc, char** argv) {
    layout l;
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

    program_run how;
    how.program = serve;
    how.arguments = {"serve", wall};
    how.environment = {{"VX_ROOT", root}, {"VX_SYSTEM", "wall"}};
    const auto start = std::chrono::steady_clock::now();
    auto host = std::make_unique<running_program>(how);
    std::unordered_map<std::string, bool> shown;
    shown.reserve(static_cast<size_t>(l.displays));
    size_t count = 0;
    double firstLine = -1;
    double firstShown = -1;
    const auto since = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    while (count < static_cast<size_t>(l.displays) && since() < 60) {
        const std::optional<std::string> line = host->readLine(60 - since());
        if (!line) break;
        if (firstLine < 0) firstLine = since();
        // "2026-12-09T10:30:24.576Z d12: [ Input 12 ] (umd_default)": past
        // the time stamp.
        const size_t at = !line->empty() && std::isdigit(static_cast<unsigned char>((*line)[0])) ? line->find(' ') + 1 : 0;
        const size_t mark = line->find(": [ Input ", at);
        if (mark == std::string::npos || (*line)[at] != 'd') continue;
        const std::string name = line->substr(at, mark - at);
        const int index = std::atoi(name.c_str() + 1);
        const int destination = (index - 1) % l.perRouter + 1;
        const std::string expected = std::to_string(destination) + " ]";
        if (line->compare(mark + 10, expected.size(), expected) != 0) continue;
        bool& seen = shown[name];
        if (!seen && ++count == 1) firstShown = since();
        seen = true;
    }
    const double elapsed = since();
    host->signal(SIGTERM);
    const int exitCode = host->wait(60);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);

    work.reset();
    io.stop();
    loop.join();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);

    std::printf("%d displays on %d %s routers of %d destinations (fake, loopback)\n", l.displays, l.routers(),
                l.protocol.c_str(), l.perRouter);
    std::printf("first line after %.3f s; first display shown after %.3f s (target: within %.2f s)\n", firstLine,
                firstShown, target_first_seconds);
    std::printf("%zu of %d displays shown after %.3f s (target: every display within %.0f s)\n", count, l.displays, elapsed,
                target_all_seconds);
    std::printf("serve's peak resident memory: %.1f MiB (target: at most %.0f MiB); exit code %d\n",
                usage.ru_maxrss / 1024.0, target_peak_mib, exitCode);
    if (count < static_cast<size_t>(l.displays)) {
        std::fprintf(stderr, "not every display was shown; serve said:\n%s\n", host->errors().substr(0, 2000).c_str());
        return 1;
    }
    return 0;
}
