#include "shell.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <boost/asio/post.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>

#include "quon/common/text.h"
#include "quon/output/display_lines.h"
#include "quon/output/trace_printer.h"
#include "quon/scenario/scenario.h"
#include "run_files.h"
#include "wall_clock.h"
#if defined(QUON_HAVE_LIVE)
#include "quon/live/live_wall.h"
#include "quon/live/wall_check.h"
#include "wall_page.h"
#endif

namespace quon {

namespace {

namespace asio = boost::asio;

// Longest input line taken; a longer one is refused whole.
const size_t max_line = 1 << 20;

std::string helpText() {
    std::string text;
    for (const verb_info& v : verbs()) text += std::string(v.usage) + "\n";
    return text + "help | quit\n";
}

class shell_session {
public:
    shell_session(asio::io_context& loop, host_engine& engine, display_model& displays, const host_options& options)
        : loop_(loop),
          engine_(engine),
          displays_(displays),
          options_(options),
          printer_(stdout, options.format),
          watch_(*this),
          session_(engine, options.settings,
                   [this](transcript_kind kind, const std::string& line) {
                       print((kind == transcript_kind::say ? "# " : "  ") + escapedControls(line));
                   }),
          clock_(loop, engine, [this] { showChanges(); }, [this](const std::string& e) { print("clock: " + e); }),
          input_(loop) {
        engine_.addListener(&printer_);
        displays_.subscribe(&watch_);
        engine_.addListener(&notes_);
    }
    ~shell_session() {
        engine_.removeListener(&notes_);
        displays_.unsubscribe(&watch_);
        engine_.removeListener(&printer_);
    }

    void start() {
        interactive_ = isatty(STDIN_FILENO);
        std::printf("quon-host shell: scenario lines, one at a time (\"help\" lists them, \"quit\" ends).\n"
                    "Timers run on the wall clock.\n");
        std::fflush(stdout);
        if (interactive_) {
            active_ = this;
            rl_callback_handler_install("quon> ", [](char* line) { active_->typed(line); });
        }
        boost::system::error_code error;
        input_.assign(STDIN_FILENO, error);
        if (error) {
            // A regular file cannot be waited on; it is always ready, so
            // read it line by line between the loop's other work.
            fileInput_ = true;
            asio::post(loop_, [this] { readFileLine(); });
        } else {
            waitForInput();
        }
        clock_.catchUp();
    }

private:
    struct notice_printer : host_listener {
        void warning(const std::string& component, const std::string& text) override {
            if (!trace) printWarning(format, component.empty() ? text : component + ": " + text);
        }
        void parentNotified(const std::string& component, const std::string& text) override {
            if (!trace && format == output_format::text)
                std::printf("%s: parent panel receives \"%s\"\n", escapedControls(component).c_str(),
                            escaped(text).c_str());
        }
        bool trace = false;
        output_format format = output_format::text;
    };

    void print(const std::string& line) {
        if (interactive_) {
            // Keep the prompt and what is being typed below the output.
            const std::string saved = rl_line_buffer ? rl_line_buffer : "";
            rl_save_prompt();
            rl_replace_line("", 0);
            rl_redisplay();
            std::printf("%s\n", line.c_str());
            rl_restore_prompt();
            rl_replace_line(saved.c_str(), 0);
            rl_redisplay();
        } else {
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }

    void showChanges() {
        for (const std::string& name : changed_) {
            const display_record* display = displays_.find(name);
            if (!display) continue;
            const std::string line = displayLine(*display);
            std::string& shown = shown_[name];
            if (line != shown) {
                shown = line;
                print("  " + line);
            }
        }
        changed_.clear();
    }

    void waitForInput() {
        if (interactive_) {
            input_.async_wait(asio::posix::stream_descriptor::wait_read, [this](boost::system::error_code error) {
                if (error || finished_) return;
                rl_callback_read_char();
                if (!finished_) waitForInput();
            });
            return;
        }
        asio::async_read_until(input_, buffer_, '\n', [this](boost::system::error_code error, size_t) {
            if (finished_) return;
            std::istream in(&buffer_);
            std::string line;
            if (!error) {
                std::getline(in, line);
                typedLine(line);
                if (!finished_) waitForInput();
                return;
            }
            // The end of input: whatever is left is the last line.
            if (std::getline(in, line) && !line.empty()) typedLine(line);
            finish();
        });
    }

    void readFileLine() {
        if (finished_) return;
        std::string line;
        if (!std::getline(std::cin, line)) {
            finish();
            return;
        }
        typedLine(line);
        asio::post(loop_, [this] { readFileLine(); });
    }

    void typed(char* raw) {
        if (!raw) {
            std::printf("\n");
            finish();
            return;
        }
        const std::string line = raw;
        std::free(raw);
        if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
        typedLine(line);
    }

    void typedLine(std::string text) {
        ++number_;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.size() > max_line) {
            print("shell:" + std::to_string(number_) + ": a line of " + std::to_string(text.size()) +
                  " bytes; at most " + std::to_string(max_line));
            return;
        }
        if (text.find_first_not_of(" \t") == std::string::npos) return;
        if (text == "quit" || text == "exit") {
            finish();
            return;
        }
        if (text == "help") {
            print(helpText());
            return;
        }
        clock_.catchUp();
        scenario parsed;
        std::string error;
        if (!parseScenario("shell", text, parsed, error)) {
            // The script is this one line: name the line of the session.
            print("shell:" + std::to_string(number_) + ":" + escapedControls(error.substr(error.find(':', 6) + 1)));
            return;
        }
        for (scenario_line line : parsed.lines) {
            line.number = number_;
            scenario_result result;
            if (!session_.run("shell", "", line, result)) print(result.failure);
        }
        clock_.catchUp();
    }

    void finish() {
        if (finished_) return;
        finished_ = true;
        if (interactive_) rl_callback_handler_remove();
        clock_.stop();
        if (input_.is_open()) input_.release();
        loop_.stop();
    }

    static shell_session* active_;

    asio::io_context& loop_;
    host_engine& engine_;
    display_model& displays_;
    const host_options& options_;
    trace_printer printer_;
    // The displays set since the last line, printed after it.
    struct display_watch : display_observer {
        explicit display_watch(shell_session& session) : session(session) {}
        void displayChanged(const display_record& display, display_aspect what) override {
            if (what == display_aspect::shown) session.changed_.insert(display.name);
        }
        shell_session& session;
    };
    display_watch watch_;
    notice_printer notes_;
    scenario_session session_;
    wall_clock_driver clock_;
    asio::posix::stream_descriptor input_;
    asio::streambuf buffer_{max_line + 1};
    std::set<std::string> changed_;
    std::map<std::string, std::string> shown_;
    bool interactive_ = false;
    bool fileInput_ = false;
    bool finished_ = false;
    int number_ = 0;

public:
    void configure() {
        notes_.trace = options_.trace;
        notes_.format = options_.format;
        if (!options_.trace) engine_.removeListener(&printer_);
    }
};

shell_session* shell_session::active_ = nullptr;

}  // namespace

int runShell(asio::io_context& loop, host_engine& engine, [[maybe_unused]] const system_description& system,
             const host_options& options) {
    display_model displays;
    engine.addListener(&displays);
    // The engine outlives the shell's displays: it is rid of them at every return.
    const struct unlisten {
        host_engine& engine;
        host_listener* listener;
        ~unlisten() { engine.removeListener(listener); }
    } unlistened{engine, &displays};
#if defined(QUON_HAVE_LIVE)
    wall_page page;
    if (!options.http.empty() && !page.open(loop, options.http)) return 2;
    live_wall wall(
        loop, engine, displays, options.settings.module, options.settings.layoutFolder,
        [&](const quon::wall& w, std::vector<std::string>& errors) {
            checkWall(w, system, engine.routers(), options.settings.module, errors);
        },
        [&](const std::string& w) { printWarning(options.format, w); });
    if (!options.http.empty()) {
        page.show(engine, displays, wall.current().umd);
        page.followReceivers([&wall] { return wall.receivers(); });
    }
    wall.watchTreatments([&page](const std::string& display, lost_treatment now) { page.marked(display, now); });
    wall.watchProblems(
        [&page](const std::string& display, const std::string& problem) { page.watchProblem(display, problem); });
#endif
    engine.routers().start();
    {
        shell_session session(loop, engine, displays, options);
        session.configure();
#if defined(QUON_HAVE_LIVE)
        std::vector<std::string> errors;
        if (!options.shellWall.empty() && !wall.start(options.shellWall, errors)) {
            for (const std::string& e : errors) std::fprintf(stderr, "%s\n", escapedControls(e).c_str());
            engine.routers().stop();
            return 2;
        }
#endif
        session.start();
        loop.run();
        // The components leave with the session, so that their teardown is
        // checked, and traced when tracing.
        engine.components().destroyAll();
    }
    engine.routers().stop();
#if defined(QUON_HAVE_LIVE)
    wall.stop();
    page.hide();
#endif
    for (const std::string& problem : engine.components().problems())
        std::printf("problem: %s\n", escapedControls(problem).c_str());
    return engine.components().problems().empty() ? 0 : 1;
}

}  // namespace quon
