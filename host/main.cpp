// quon-host: a substitute panel host that loads component modules, drives
// them against a simulated system, runs scenario scripts and shows the
// displays.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_engine.h"
#include "host_paths.h"
#include "scenario.h"
#include "shell.h"
#include "system_files.h"
#include "validator.h"

namespace {

const char* const usage =
    "usage: quon-host [run FILE... | shell | validate MODULE | --help] [options]\n"
    "\n"
    "  quon-host             run the bundled demo on the bundled sample system\n"
    "  quon-host run FILE... run scenario scripts; each must meet all its expectations\n"
    "  quon-host shell       type scenario lines live; timers follow the wall clock\n"
    "  quon-host validate MODULE\n"
    "                        check that a component module keeps the host\n"
    "                        contract (each check in a child process)\n"
    "\n"
    "options:\n"
    "  --trace[=text|json]   print every message between host and components\n"
    "                        (json: one JSON object a line)\n"
    "  --module PATH         the module \"create NAME\" loads (default: Korvane.so\n"
    "                        beside quon-host, in ../lib)\n"
    "  --panels DIR          the folder of panel layouts given to components\n"
    "                        (default: the bundled examples/panels)\n"
    "  --seed N              validate: the seed of every random choice (default:\n"
    "                        from the clock; printed either way)\n"
    "  --messages N          validate: random messages to send (default 20000)\n"
    "  --json                validate: the results as one JSON object\n"
    "  --timeout SECONDS     validate: the time limit of each check (default 60;\n"
    "                        the random sequences get 1 s more per 500 messages)\n"
    "  --help                this text\n"
    "\n"
    "The system is read from $VX_ROOT/$VX_SYSTEM/config/system; when either\n"
    "variable is unset, both are set to the bundled sample system.\n"
    "The scenario language is described in docs/scenarios.md.\n"
    "\n"
    "exit codes: 0 everything passed; 1 an expectation failed or a component\n"
    "broke the host contract; 2 bad usage, a script with a syntax error, or a\n"
    "module that cannot be loaded.\n";

struct options {
    std::string command;  // "", "run", "shell"
    std::vector<std::string> files;
    validator_options validation;
    bool seedGiven = false;
    bool trace = false;
    bool json = false;
    scenario_settings settings;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "quon-host: %s\n%s", message.c_str(), usage);
    return 2;
}

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

// Sets VX_ROOT and VX_SYSTEM to the sample system when either is unset, so
// that the host and the modules it loads read the same files.
void useSampleSystemUnlessSet() {
    if (std::getenv("VX_ROOT") && std::getenv("VX_SYSTEM")) return;
    const std::string root = examplesFolder() + "/vx";
    setenv("VX_ROOT", root.c_str(), 1);
    setenv("VX_SYSTEM", "studio", 1);
    std::fprintf(stderr, "quon-host: VX_ROOT and VX_SYSTEM not set; using the sample system %s/studio\n", root.c_str());
}

system_description readConfiguredSystem() {
    system_description system = readSystem(systemFolder(std::getenv("VX_ROOT"), std::getenv("VX_SYSTEM")));
    for (const std::string& warning : system.warnings)
        std::fprintf(stderr, "quon-host: warning: %s\n", warning.c_str());
    return system;
}

void printTrace(bool json, const trace_event& e) {
    std::printf("%s\n", (json ? formatTraceJson(e) : formatTraceText(e)).c_str());
}

// Runs each script on a fresh system. Quietly, unless tracing: a failure
// prints the trace that led to it.
int runFiles(const options& o, bool narrate) {
    std::vector<scenario> scripts;
    for (const std::string& file : o.files) {
        std::string text, error;
        if (!readFile(file, text)) {
            std::fprintf(stderr, "quon-host: %s: cannot be read\n", file.c_str());
            return 2;
        }
        scenario script;
        if (!parseScenario(file, text, script, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        scripts.push_back(std::move(script));
    }
    int passed = 0, failed = 0;
    bool loadError = false;
    for (const scenario& script : scripts) {
        host_engine engine(readConfiguredSystem());
        std::deque<std::string> recent;  // the trace kept for a failure report
        const bool live = o.trace || narrate;
        engine.onTrace([&](const trace_event& e) {
            if (live) {
                printTrace(o.json, e);
            } else {
                recent.push_back(formatTraceText(e));
                if (recent.size() > 60) recent.pop_front();
            }
        });
        const scenario_result result = runScenario(script, engine, o.settings, [&](const std::string& line) {
            if (live) std::printf("%s\n", line.c_str());
        });
        if (result.passed) {
            ++passed;
            if (!narrate) std::printf("PASS %s (%d expectations)\n", script.file.c_str(), result.expectations);
            continue;
        }
        ++failed;
        loadError = loadError || result.loadError;
        if (!live && !recent.empty()) {
            std::printf("trace that led there (last %zu lines):\n", recent.size());
            for (const std::string& line : recent) std::printf("  %s\n", line.c_str());
        }
        std::printf("FAIL %s\n", result.failure.c_str());
    }
    if (!narrate) std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    if (loadError) return 2;
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    options o;
    o.settings.module = defaultModulePath();
    o.settings.layoutFolder = examplesFolder() + "/panels";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("%s", usage);
            return 0;
        } else if (arg == "--trace" || arg == "--trace=text") {
            o.trace = true;
        } else if (arg == "--trace=json") {
            o.trace = o.json = true;
        } else if (arg == "--json") {
            o.validation.json = true;
        } else if (arg == "--seed" || arg == "--messages" || arg == "--timeout") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            const std::string number = argv[++i];
            if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 19)
                return usageError(arg + " takes a whole number");
            const unsigned long long value = std::stoull(number);
            if (arg == "--seed") {
                o.validation.seed = value;
                o.seedGiven = true;
            } else if (arg == "--timeout") {
                o.validation.timeoutSeconds = static_cast<double>(value);
            } else {
                o.validation.messages = static_cast<long>(value);
            }
        } else if (arg == "--module" || arg == "--panels") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            (arg == "--module" ? o.settings.module : o.settings.layoutFolder) = argv[++i];
        } else if (arg.compare(0, 2, "--") == 0) {
            return usageError("unknown option " + arg);
        } else if (o.command.empty() && (arg == "run" || arg == "shell" || arg == "validate")) {
            o.command = arg;
        } else if (o.command == "validate" && o.validation.module.empty()) {
            o.validation.module = arg;
        } else if (o.command == "run") {
            o.files.push_back(arg);
        } else {
            return usageError("unexpected argument " + arg);
        }
    }
    if (o.command == "run" && o.files.empty()) return usageError("run needs at least one scenario file");
    if (o.command == "validate") {
        if (o.validation.module.empty()) return usageError("validate needs a module");
        if (!o.seedGiven)
            o.validation.seed =
                static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000000;
        return runValidator(o.validation);
    }

    useSampleSystemUnlessSet();
    if (o.command == "shell") {
        host_engine engine(readConfiguredSystem());
        return runShell(engine, o.settings, o.json, o.trace);
    }
    if (o.command == "run") return runFiles(o, false);

    o.files.push_back(examplesFolder() + "/scenarios/demo.quon");
    std::printf("quon-host demo: %s\n\n", o.files.back().c_str());
    const int code = runFiles(o, true);
    std::printf(code == 0 ? "\ndemo finished: every component torn down cleanly\n" : "\ndemo failed\n");
    return code;
}
