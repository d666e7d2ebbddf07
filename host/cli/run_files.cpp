#include "run_files.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "quon/common/paths.h"
#include "quon/common/text.h"
#include "quon/engine/host_engine.h"
#include "quon/output/json_lines.h"
#include "quon/routers/built_in_routers.h"
#if defined(QUON_HAVE_LIVE)
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "wall_page.h"
#endif

namespace quon {

namespace {

bool readFile(const std::string& path, std::string& text, std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = "a folder, not a scenario file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::filesystem::exists(path, ignored) ? "cannot be read" : "no such file";
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

// Prints a line of the run's own output: as text, or as one JSON object.
void printLine(output_format format, const char* kind, const std::string& text) {
    if (format == output_format::json)
        std::printf("%s\n", jsonLine({{"kind", kind}, {"text", text}}).c_str());
    else
        std::printf("%s\n", escapedControls(text).c_str());
}

}  // namespace

namespace {
bool stamped = false;
bool journal = false;
}  // namespace

void stampOutput(bool on) {
    stamped = on;
    journal = on && writingToJournal();
}

std::string lineStamp() { return stamped && !journal ? utcMillisText(std::chrono::system_clock::now()) + " " : ""; }

bool writingToJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    for (int fd : {1, 2}) {
        struct stat status {};
        if (fstat(fd, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
            static_cast<unsigned long long>(status.st_ino) == inode)
            return true;
    }
    return false;
}

void printWarning(output_format format, const std::string& text) {
    if (format == output_format::json) {
        json line = {{"kind", "warning"}, {"text", text}};
        if (stamped) line["time"] = utcMillisText(std::chrono::system_clock::now());
        std::printf("%s\n", jsonLine(line).c_str());
    } else {
        std::fprintf(stderr, "%squon-host: warning: %s\n", lineStamp().c_str(), escapedControls(text).c_str());
    }
}

bool useSampleSystemUnlessSet() {
    const char* root = std::getenv("VX_ROOT");
    const char* system = std::getenv("VX_SYSTEM");
    if (root && system) return true;
    if (root || system) {
        std::fprintf(stderr, "quon-host: %s is set but %s is not; set both, or neither for the sample system\n",
                     root ? "VX_ROOT" : "VX_SYSTEM", root ? "VX_SYSTEM" : "VX_ROOT");
        return false;
    }
    const std::string sample = examplesFolder() + "/vx";
    setenv("VX_ROOT", sample.c_str(), 1);
    setenv("VX_SYSTEM", "studio", 1);
    std::fprintf(stderr, "quon-host: VX_ROOT and VX_SYSTEM not set; using the sample system %s/studio\n",
                 sample.c_str());
    return true;
}

system_description readConfiguredSystem(output_format format) {
    system_description system = readSystem(systemFolder(std::getenv("VX_ROOT"), std::getenv("VX_SYSTEM")));
    for (const std::string& warning : system.warnings) printWarning(format, warning);
    return system;
}

int runFiles(const host_options& o, bool narrate) {
    std::vector<scenario> scripts;
    for (const std::string& file : o.files) {
        std::string text, error;
        if (!readFile(file, text, error)) {
            std::fprintf(stderr, "quon-host: %s: %s\n", escapedControls(file).c_str(), error.c_str());
            return 2;
        }
        scenario script;
        if (!parseScenario(file, text, script, error)) {
            std::fprintf(stderr, "%s\n", escapedControls(error).c_str());
            return 2;
        }
        script.folder = std::filesystem::absolute(file).parent_path().string();
        scripts.push_back(std::move(script));
    }
    const router_registry routers = builtInRouters();
#if defined(QUON_HAVE_LIVE)
    // The demo with --http: the wall in the browser while the script runs,
    // and after it until Ctrl-C; then the components are torn down.
    boost::asio::io_context loop;
    wall_page page;
    const umd_config noTallies;
    if (!o.http.empty() && !page.open(loop, o.http)) return 2;
#endif
    int passed = 0, failed = 0;
    bool loadError = false;
    for (const scenario& script : scripts) {
        host_engine engine(readConfiguredSystem(o.format), routers, o.modules);
        for (const std::string& warning : engine.routers().warnings()) printWarning(o.format, warning);
        for (const std::string& error : engine.routers().errors()) printWarning(o.format, error);
        const bool live = o.trace || narrate;
        trace_printer printer(stdout, o.format);
        trace_memory recent(60);  // the trace kept for a failure report
        // Warnings always reach the user, traced or not.
        struct warning_printer : host_listener {
            explicit warning_printer(output_format f) : format(f) {}
            void warning(const std::string& component, const std::string& text) override {
                printWarning(format, component.empty() ? text : component + ": " + text);
            }
            output_format format;
        } warnings(o.format);
        engine.addListener(live ? static_cast<host_listener*>(&printer) : &recent);
        if (!(live && o.format == output_format::json)) engine.addListener(&warnings);
        scenario_hooks hooks;
#if defined(QUON_HAVE_LIVE)
        display_model displays;
        if (!o.http.empty()) {
            engine.addListener(&displays);
            page.show(engine, displays, noTallies);
            hooks.afterLine = [&] { loop.poll(); };
            hooks.beforeTeardown = [&] {
                std::printf("\nthe script has ended; the wall stays at %s until Ctrl-C\n", page.url().c_str());
                std::fflush(stdout);
                boost::asio::signal_set stop(loop, SIGINT, SIGTERM);
                stop.async_wait([&](boost::system::error_code, int) { loop.stop(); });
                loop.restart();
                loop.run();
                loop.restart();
            };
        }
#endif
        const scenario_result result = runScenario(
            script, engine, o.settings,
            [&](transcript_kind kind, const std::string& line) {
                if (kind == transcript_kind::say)
                    printLine(o.format, "say", o.format == output_format::json ? line : "# " + line);
                else if (kind == transcript_kind::display)
                    printLine(o.format, "display", o.format == output_format::json ? line : "  " + line);
                else if (live)
                    printLine(o.format, "reply", o.format == output_format::json ? line : "  " + line);
            },
            hooks);
#if defined(QUON_HAVE_LIVE)
        page.hide();
        engine.removeListener(&displays);
#endif
        engine.removeListener(live ? static_cast<host_listener*>(&printer) : &recent);
        engine.removeListener(&warnings);
        if (result.passed) {
            ++passed;
            if (!narrate) {
                if (o.format == output_format::json)
                    std::printf("%s\n", jsonLine({{"kind", "result"},
                                                  {"file", script.file},
                                                  {"passed", true},
                                                  {"expectations", result.expectations}})
                                            .c_str());
                else
                    std::printf("PASS %s (%d expectations)\n", escapedControls(script.file).c_str(),
                                result.expectations);
            }
            continue;
        }
        ++failed;
        loadError = loadError || result.loadError;
        if (o.format == output_format::json) {
            std::printf("%s\n",
                        jsonLine({{"kind", "result"}, {"file", script.file}, {"passed", false}, {"failure", result.failure}})
                            .c_str());
            continue;
        }
        if (!live && !recent.lines().empty()) {
            std::printf("trace that led there (last %zu lines):\n", recent.lines().size());
            for (const std::string& line : recent.lines()) std::printf("  %s\n", line.c_str());
        }
        std::printf("FAIL %s\n", result.failure.c_str());
    }
    if (!narrate) {
        if (o.format == output_format::json)
            std::printf("%s\n", jsonLine({{"kind", "summary"}, {"passed", passed}, {"failed", failed}}).c_str());
        else
            std::printf("%d passed, %d failed\n", passed, failed);
    }
    std::fflush(stdout);
    if (loadError) return 2;
    return failed ? 1 : 0;
}

}  // namespace quon
