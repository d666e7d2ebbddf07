// Scenario scripts: a small line language that drives a host_engine and
// checks what the components did. Every verb is one row of the verb table
// (verbs()), from which the parser, the shell's help and the check of
// docs/scenarios.md are driven.
#ifndef QUON_SCENARIO_SCENARIO_H
#define QUON_SCENARIO_SCENARIO_H

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/host_engine.h"

namespace quon {

struct scenario_line {
    int number = 0;
    std::string verb;                // "create", "send", ..., "expect"
    std::vector<std::string> words;  // the blank-separated words after the verb
    std::string rest;                // for free-text lines: the text after the fixed words
};

struct scenario {
    std::string file;
    std::string folder;  // paths in the script resolve against it
    std::vector<scenario_line> lines;
};

// One verb of the language, or one kind of expectation.
struct verb_info {
    const char* verb;     // "route", or "expect sent"
    const char* usage;    // as the docs and the shell's help write it
    const char* meaning;  // the docs' description
};
// Every verb and expectation, in the order the docs list them.
std::vector<verb_info> verbs();

// Parses a whole script before anything runs. On a syntax error returns
// false with "FILE:LINE: message" in `error`.
bool parseScenario(const std::string& file, const std::string& text, scenario& out, std::string& error);

struct scenario_settings {
    std::string module;        // module of "create NAME" without a module
    std::string layoutFolder;  // the path text components are created with
};

struct scenario_result {
    bool passed = true;
    bool loadError = false;  // a module could not be loaded or gave no component
    int expectations = 0;
    std::string failure;  // "FILE:LINE: ..." with what was expected and what happened
};

// What a script prints besides the trace.
enum class transcript_kind { say, display, reply };
using transcript = std::function<void(transcript_kind, const std::string&)>;

// Runs scenario lines one at a time on an engine, keeping what the
// expectations look back on (the last reply, the commands of the step, the
// latest parent notifications) through a listener of its own. The
// interactive shell feeds it line by line.
class scenario_session {
public:
    // `engine` outlives the session.
    scenario_session(host_engine& engine, const scenario_settings& settings, transcript out);
    ~scenario_session();
    scenario_session(const scenario_session&) = delete;
    scenario_session& operator=(const scenario_session&) = delete;

    // Runs one line; false with `result.failure` set when it fails.
    // `folder` is where relative paths of the line resolve.
    bool run(const std::string& file, const std::string& folder, const scenario_line& line, scenario_result& result);

private:
    class recorder;
    bool expect(const scenario_line& line, const std::function<bool(const std::string&)>& failed);

    host_engine& engine_;
    scenario_settings settings_;
    transcript out_;
    std::unique_ptr<recorder> recorder_;
    std::optional<std::string> lastReply_;
    bool anyReply_ = false;
};

// What a caller may do between the lines of a script: `afterLine` after
// each line that ran, `beforeTeardown` once the last line passed, before
// the remaining components are destroyed.
struct scenario_hooks {
    std::function<void()> afterLine;
    std::function<void()> beforeTeardown;
};

// Runs `script` on `engine`, then destroys the remaining components so that
// their teardown is checked too.
scenario_result runScenario(const scenario& script, host_engine& engine, const scenario_settings& settings,
                            const transcript& out, const scenario_hooks& hooks = {});

// "\n", "\t" and "\\" in an expected text stand for a line feed, a tab and
// a backslash.
std::string unescaped(const std::string& text);

}  // namespace quon

#endif
