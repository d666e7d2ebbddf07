// Scenario scripts: a small line language that drives a host_engine and
// checks what the components did. The language is described in
// docs/scenarios.md.
#ifndef QUON_HOST_SCENARIO_H
#define QUON_HOST_SCENARIO_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host_engine.h"

struct scenario_line {
    int number = 0;
    std::string verb;                // "create", "send", ..., "expect"
    std::vector<std::string> words;  // the blank-separated words after the verb
    std::string rest;                // for free-text lines: the text after the fixed words
};

struct scenario {
    std::string file;
    std::vector<scenario_line> lines;
};

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

// Runs scenario lines one at a time on an engine, keeping what the
// expectations look back on (the last reply, the commands already
// expected). The interactive shell feeds it line by line.
class scenario_session {
public:
    scenario_session(host_engine& engine, const scenario_settings& settings,
                     std::function<void(const std::string&)> out);
    // Runs one line; false with `result.failure` set when it fails.
    bool run(const std::string& file, const scenario_line& line, scenario_result& result);

private:
    host_engine& engine_;
    scenario_settings settings_;
    std::function<void(const std::string&)> out_;
    std::optional<std::string> lastReply_;
    bool anyReply_ = false;
    std::map<std::string, size_t> sentChecked_;
};

// Runs `script` on `engine`. Every transcript line (narration, replies,
// displays, and the trace when the engine's trace goes to `out`) is passed
// to `out`.
scenario_result runScenario(const scenario& script, host_engine& engine, const scenario_settings& settings,
                            const std::function<void(const std::string&)>& out);

// "\n", "\t" and "\\" in an expected text stand for a line feed, a tab and
// a backslash.
std::string unescaped(const std::string& text);

#endif
