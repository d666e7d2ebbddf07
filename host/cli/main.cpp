// quon-host: a substitute panel host that loads component modules, drives
// them against a simulated system, runs scenario scripts and shows the
// displays.
#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "quon/common/decimal.h"
#include "quon/common/paths.h"
#include "quon/common/text.h"
#include "quon/routers/built_in_routers.h"
#include "quon/validate/reports.h"
#include "run_files.h"
#include "shell.h"
#if defined(QUON_HAVE_LIVE)
#include "lineup_command.h"
#include "quon/routers/network_routers.h"
#include "serve.h"
#endif
#if defined(QUON_HAVE_WINDOWS_MODULES)
#include "quon/windows_modules/windows_modules.h"
#endif

namespace {

using namespace quon;

const char* const footer =
    "Without a command, quon-host runs the bundled demo on the bundled sample system.\n"
    "\n"
    "The system is read from $VX_ROOT/$VX_SYSTEM/config/system; when neither\n"
    "variable is set, both are set to the bundled sample system.\n"
    "The scenario language is described in docs/scenarios.md.\n"
    "\n"
    "exit codes: 0 everything passed; 1 an expectation failed or a component\n"
    "broke the host contract; 2 bad usage, a script with a syntax error, or a\n"
    "module that cannot be loaded.\n";

int usageError(const CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "quon-host: %s\n%s", escapedControls(message).c_str(), app.help().c_str());
    return 2;
}

// CLI11 would read "-1" or a number past the range as the largest value;
// numeric options are taken as text and read here, digits only.
bool readNumber(const std::string& name, const std::string& text, long long low, long long high, long long& out,
                std::string& error) {
    if (parseDecimal(text, low, high, out) && text[0] != '-') return true;
    error = name + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", not \"" +
            text + "\"";
    return false;
}

bool readSeed(const std::string& text, uint64_t& out, std::string& error) {
    const bool digits = !text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits) {
        errno = 0;
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
        if (errno == 0 && *end == '\0') {
            out = value;
            return true;
        }
    }
    error = "--seed takes a whole number from 0 to 18446744073709551615, not \"" + text + "\"";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("quon-host: a panel host for script components", "quon-host");
    app.footer(footer);
#if defined(QUON_HAVE_WINDOWS_MODULES)
    app.set_version_flag("--version",
                         [] { return "quon-host " QUON_VERSION "\nWindows modules: " + windowsModulesRuntime(); });
#else
    app.set_version_flag("--version", "quon-host " QUON_VERSION);
#endif
    app.allow_extras();
    app.require_subcommand(0, 1);

    host_options o;
#if defined(QUON_HAVE_WINDOWS_MODULES)
    addWindowsModules(o.modules);
#endif
    std::string trace, seed, messages, timeout, module, panels;
    const auto addTrace = [&](CLI::App* a) {
        a->add_option("--trace", trace, "print every message between host and components (json: one JSON object a line)")
            ->expected(0, 1)
            ->default_str("text")
            ->check(CLI::IsMember({"text", "json"}));
    };
    const auto addComponents = [&](CLI::App* a) {
        a->add_option("--module", module, "the module \"create NAME\" loads (default: Korvane.so in ../lib/quon-host, or ../lib in a build tree)");
        a->add_option("--panels", panels, "the folder of panel layouts given to components");
    };
    addTrace(&app);
    addComponents(&app);

    CLI::App* run = app.add_subcommand("run", "run scenario scripts; each must meet all its expectations");
    run->add_option("FILE", o.files, "scenario scripts")->required();
    addTrace(run);
    addComponents(run);
    run->allow_extras();

    CLI::App* shell = app.add_subcommand("shell", "type scenario lines live; timers follow the wall clock");
    addTrace(shell);
    addComponents(shell);
    shell->allow_extras();

    CLI::App* validate =
        app.add_subcommand("validate", "check that a component module keeps the host contract (each check in a "
                                       "child process)");
    validate->add_option("MODULE", o.validation.module, "the module file")->required();
    validate->add_option("--seed", seed, "the seed of every random choice (default: from the clock; printed)");
    validate->add_option("--messages", messages, "random messages to send (default 20000)");
    validate->add_option("--timeout", timeout,
                         "the time limit of each check in seconds (default 60; the random sequences get 1 s more "
                         "per 500 messages)");
    validate->add_flag("--json", o.validation.json, "the results as one JSON object");
    validate->add_flag("--verbose", o.validation.verbose,
                       "the module's debug lines on standard error (escaped) instead of in a log file of their own");
    validate->allow_extras();

#if defined(QUON_HAVE_LIVE)
    std::vector<CLI::Option*> httpOptions;
    const auto addHttp = [&](CLI::App* a) {
        httpOptions.push_back(
            a->add_option("--http", o.http,
                          "show the wall in the browser at ADDR:PORT (\":8080\" is 127.0.0.1:8080; a name such as "
                          "localhost:8080 is resolved once, at start; another address is visible on the network)"));
    };
    serve_options serving;
    CLI::App* serve = app.add_subcommand(
        "serve", "run the displays of a wall file live, on the wall clock, until SIGINT or SIGTERM (SIGHUP "
                 "reloads the wall file)");
    serve->add_option("WALL_FILE", serving.wallFile, "the wall file (TOML; see docs/serve.md)")->required();
    serve->add_flag("--quiet", serving.quiet, "print no line per display or router change");
    serve->footer(
        "The system is read from $VX_ROOT/$VX_SYSTEM/config/system (the device files dev_NNN.ini and\n"
        "instances.ini); when neither variable is set, both are set to the bundled sample system.\n"
        "Under systemd, serve reports READY, STATUS and WATCHDOG=1 (see docs/serve.md).\n"
        "What a router link learns and keeps through a restart (dev_NNN.state) is in $STATE_DIRECTORY when\n"
        "set (systemd's StateDirectory=), else beside the device file.\n"
        "\n"
        "exit codes: 0 stopped by SIGINT or SIGTERM, every display torn down; 2 bad usage, a wall file that\n"
        "is refused (its errors are printed), or an --http address that cannot be served.\n");
    std::string checkedWall;
    CLI::App* check = app.add_subcommand(
        "check", "check a wall file against the system's device files and instances.ini as serve would, and start "
                 "nothing");
    check->add_option("WALL_FILE", checkedWall, "the wall file (TOML; see docs/serve.md)")->required();
    check->footer("The system is read from $VX_ROOT/$VX_SYSTEM/config/system, as serve reads it.\n"
                  "\n"
                  "exit codes: 0 no errors (warnings may be printed); 1 errors, each printed with its file, line and\n"
                  "column; 2 bad usage.\n");
    addComponents(check);
    lineup_command lining;
    CLI::App* lineup = app.add_subcommand(
        "lineup", "line up the displays of a running host: every lamp lit, or each display's name shown, for a while "
                  "(docs/tally.md)");
    lineup->add_option("--page", lining.page, "the host's page: http://HOST:PORT or https://HOST:PORT")->required();
    lineup->add_option("--token-file", lining.tokenFile,
                       "a file whose first line is the control token (else $QUON_CONTROL_TOKEN)");
    lineup->add_option("--ca-file", lining.caFile, "HTTPS: certificates to trust besides the system's");
    lineup->add_option("WORDS", lining.words, "lamps DURATION [DISPLAY...], name DURATION [DISPLAY...], or off")
        ->required();
    lineup->footer("exit codes: 0 the host lined up (or ended the line-up); 1 the host refused it, saying why; 2 bad\n"
                   "usage, no token, or a page that cannot be reached.\n");
    addHttp(serve);
    addHttp(&app);
    addHttp(shell);
    shell->add_option("WALL_FILE", o.shellWall,
                      "a wall file whose displays the shell starts with and whose [umd] sends them to screens");
    addTrace(serve);
    addComponents(serve);
    serve->allow_extras();
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        // The help of the command it was asked of: `serve --help` is serve's.
        const std::vector<CLI::App*> asked = app.get_subcommands();
        std::printf("%s", asked.empty() ? app.help().c_str() : asked.back()->help().c_str());
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::printf("%s", app.help("", CLI::AppFormatMode::All).c_str());
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(app, e.what());
    }
    std::vector<CLI::App*> apps = {&app, run, shell, validate};
#if defined(QUON_HAVE_LIVE)
    apps.push_back(serve);
    apps.push_back(check);
    apps.push_back(lineup);
#endif
    for (CLI::App* a : apps)
        for (const std::string& extra : a->remaining())
            return usageError(app, (extra.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + extra);
#if defined(QUON_HAVE_LIVE)
    for (const CLI::Option* http : httpOptions)
        if (http->count() > 0 && o.http.empty()) return usageError(app, "--http needs ADDR:PORT, e.g. :8080");
#endif

    if (run->parsed()) o.command = "run";
    if (shell->parsed()) o.command = "shell";
    if (validate->parsed()) o.command = "validate";
    o.trace = !trace.empty();
    o.format = trace == "json" ? output_format::json : output_format::text;
    o.settings.module = module.empty() ? defaultModulePath() : resolveModulePath(module);
    o.settings.layoutFolder = panels.empty() ? examplesFolder() + "/panels" : panels;

    if (o.command == "validate") {
        std::string error;
        long long number = 0;
        if (!seed.empty() && !readSeed(seed, o.validation.seed, error)) return usageError(app, error);
        if (seed.empty())
            o.validation.seed =
                static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000000;
        if (!messages.empty()) {
            if (!readNumber("--messages", messages, 1, 1000000000, number, error)) return usageError(app, error);
            o.validation.messages = static_cast<long>(number);
        }
        if (!timeout.empty()) {
            if (!readNumber("--timeout", timeout, 1, 86400, number, error)) return usageError(app, error);
            o.validation.timeoutSeconds = static_cast<double>(number);
        }
        o.validation.module = resolveModulePath(o.validation.module);
        o.validation.modules = o.modules;
        const char* tmp = std::getenv("TMPDIR");
        o.validation.debugLog = std::string(tmp && *tmp ? tmp : "/tmp") + "/quon-validate-" +
                                std::to_string(o.validation.seed) + "-" + std::to_string(getpid()) + ".log";
        text_report text(stdout);
        json_report json(stdout);
        return runValidator(o.validation, o.validation.json ? static_cast<validation_listener&>(json) : text);
    }

#if defined(QUON_HAVE_LIVE)
    if (lineup->parsed()) return runLineup(lining);
#endif
    if (!useSampleSystemUnlessSet()) return 2;
    if (o.command == "shell") {
        boost::asio::io_context loop;
        router_registry routers = builtInRouters();
#if defined(QUON_HAVE_LIVE)
        addNetworkRouters(routers, loop);
#endif
        const system_description system = readConfiguredSystem(o.format);
        host_engine engine(system, routers, o.modules);
        // A session on the bench runs on what a live host would refuse.
        for (const std::string& warning : engine.routers().warnings()) printWarning(o.format, warning);
        for (const std::string& error : engine.routers().errors()) printWarning(o.format, error);
        return runShell(loop, engine, system, o);
    }
    if (o.command == "run") return runFiles(o, false);
#if defined(QUON_HAVE_LIVE)
    if (serve->parsed()) return runServe(o, serving);
    if (check->parsed()) return runCheck(o, checkedWall);
#endif

    o.files.push_back(examplesFolder() + "/scenarios/demo.quon");
    std::printf("quon-host demo: %s\n\n", o.files.back().c_str());
    const int code = runFiles(o, true);
    std::printf(code == 0 ? "\ndemo finished: every component torn down cleanly\n" : "\ndemo failed\n");
    return code;
}
