#include "shell.h"

#include <readline/history.h>
#include <readline/readline.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using wall_clock = std::chrono::steady_clock;

host_engine* shellEngine = nullptr;
wall_clock::time_point lastTick;
std::vector<std::string> shownDisplays;

std::vector<std::string> displays(const host_engine& engine) {
    std::vector<std::string> lines;
    for (const std::string& name : engine.components()) lines.push_back(engine.display(name));
    return lines;
}

void printDisplays(bool onlyIfChanged) {
    const std::vector<std::string> now = displays(*shellEngine);
    if (onlyIfChanged && now == shownDisplays) return;
    shownDisplays = now;
    for (const std::string& line : now) std::printf("  %s\n", line.c_str());
}

// Moves the host clock with the wall clock; called by readline while it
// waits for input.
int tickWhileWaiting() {
    const wall_clock::time_point now = wall_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick).count();
    if (elapsed <= 0) return 0;
    lastTick += std::chrono::milliseconds(elapsed);
    const std::vector<std::string> before = displays(*shellEngine);
    shellEngine->advance(static_cast<uint64_t>(elapsed));
    if (displays(*shellEngine) != before) {
        std::printf("\n");
        printDisplays(false);
        rl_on_new_line();
        rl_redisplay();
    }
    return 0;
}

}  // namespace

int runShell(host_engine& engine, const scenario_settings& settings, bool traceJson, bool trace) {
    shellEngine = &engine;
    engine.onTrace([traceJson, trace](const trace_event& e) {
        if (trace || e.name == "warning" || e.name == "violation" || e.name == "notify")
            std::printf("%s\n", (traceJson ? formatTraceJson(e) : formatTraceText(e)).c_str());
    });
    scenario_session session(engine, settings, [](const std::string& line) { std::printf("%s\n", line.c_str()); });
    std::printf(
        "quon-host shell: scenario lines, one at a time (\"help\" lists them, \"quit\" ends).\n"
        "Timers run on the wall clock.\n");
    lastTick = wall_clock::now();
    rl_event_hook = tickWhileWaiting;
    int number = 0;
    for (;;) {
        char* raw = readline("quon> ");
        if (!raw) break;
        const std::string text = raw;
        std::free(raw);
        ++number;
        if (text.find_first_not_of(" \t") == std::string::npos) continue;
        add_history(text.c_str());
        if (text == "quit" || text == "exit") break;
        if (text == "help") {
            std::printf(
                "create NAME [MODULE] | destroy NAME | send NAME TEXT | route DEVICE DESTINATION SOURCE\n"
                "rename DEVICE DATABASE INDEX NAME | answer DEVICE yes|no | advance DURATION\n"
                "button NAME ID [EVENT] | value NAME INTEGER | show | say TEXT\n"
                "expect reply|sent|property|notify ... | quit\n");
            continue;
        }
        tickWhileWaiting();
        scenario parsed;
        std::string error;
        if (!parseScenario("shell", text, parsed, error)) {
            // The script is this one line: name the line of the session.
            std::printf("shell:%d:%s\n", number, error.substr(error.find(':', 6) + 1).c_str());
            continue;
        }
        for (scenario_line line : parsed.lines) {
            line.number = number;
            scenario_result result;
            if (!session.run("shell", line, result)) std::printf("%s\n", result.failure.c_str());
        }
        printDisplays(true);
    }
    rl_event_hook = nullptr;
    engine.destroyAll();
    for (const std::string& problem : engine.problems()) std::printf("problem: %s\n", problem.c_str());
    shellEngine = nullptr;
    return engine.problems().empty() ? 0 : 1;
}
