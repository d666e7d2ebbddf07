// win32-run PROGRAM.exe [ARGUMENTS...]: runs a 32-bit Windows console
// program of the Microsoft ABI on the emulated machine and exits with its
// exit code. A program that cannot be loaded, or a run that faults (an
// emulated CPU fault, a heap fault, a function that is not emulated, an
// unhandled C++ exception), ends with a line naming it on standard error and
// exit code 126 or 125. Blocks of the heap never freed are listed on
// standard error after the run.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quon/win32/process.h"

extern char** environ;

namespace {

constexpr int cannot_load = 126;
constexpr int faulted = 125;

void writeOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void writeDebug(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout,
                     "usage: win32-run PROGRAM.exe [ARGUMENTS...]\n"
                     "Runs a 32-bit Windows console program on an emulated x86 CPU (docs/win32-runner.md).\n"
                     "Exit code: the program's; 125 when the run faulted, 126 when the program cannot be loaded.\n");
        return argc < 2 ? 2 : 0;
    }
    quon::win32::process_options options;
    for (char** e = environ; *e; ++e) options.environment.push_back(*e);
    options.debugOutput = writeDebug;
    options.standardOutput = writeOut;
    quon::win32::process process(std::move(options));
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    int code;
    try {
        code = process.runProgram(argv[1], arguments);
        process.shutDown();
    } catch (const quon::win32::load_error& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "win32-run: cannot load: %s\n", error.what());
        return cannot_load;
    } catch (const quon::win32::machine_fault& fault) {
        std::fflush(stdout);
        std::fprintf(stderr, "win32-run: %s: %s\n", argv[1], fault.what());
        return faulted;
    } catch (const quon::win32::program_exit& exit) {
        code = exit.code;  // a DLL's detach ended the process
    }
    std::fflush(stdout);
    const std::vector<std::string> leaks = process.memory().leaks();
    if (!leaks.empty()) {
        std::fprintf(stderr, "win32-run: %zu heap blocks never freed:\n", leaks.size());
        for (const std::string& leak : leaks) std::fprintf(stderr, "  %s\n", leak.c_str());
    }
    return code;
}
