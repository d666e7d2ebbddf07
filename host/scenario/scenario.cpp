#include "quon/scenario/scenario.h"

#include <sstream>

#include "quon/common/decimal.h"
#include "quon/common/duration.h"
#include "quon/common/paths.h"
#include "quon/common/text.h"
#include "quon/output/display_lines.h"

namespace quon {

namespace {

// Commands kept per component and step for "expect sent"; a longer step
// keeps only a count of the rest, so memory stays bounded however long.
const size_t kept_step_commands = 10000;
// Commands listed in a failure message.
const size_t listed_commands = 20;

std::string quoted(const std::string& text) { return "\"" + escaped(text) + "\""; }

// A wait: a duration ("500ms", "2s"), or a bare number of milliseconds.
bool parseWait(const std::string& word, long long& milliseconds) {
    if (parseDecimal(word, 0, 1000000000LL, milliseconds)) return true;
    std::chrono::milliseconds duration{};
    if (!parseDuration(word, duration)) return false;
    milliseconds = duration.count();
    return true;
}

// Splits off `count` blank-separated words; the rest (after one blank) is
// the free text.
void splitWords(const std::string& text, size_t count, std::vector<std::string>& words, std::string& rest) {
    size_t at = 0;
    while (words.size() < count) {
        while (at < text.size() && text[at] == ' ') ++at;
        if (at >= text.size()) break;
        const size_t end = text.find(' ', at);
        words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end;
    }
    if (count == 0)
        rest = text;
    else if (at < text.size())
        rest = text.substr(at + 1);
}

bool integerAt(const scenario_line& line, size_t i, std::string& why) {
    int ignored = 0;
    if (parseInt32(line.words[i], ignored)) return true;
    why = quoted(line.words[i]) + " is not a 32-bit integer";
    return false;
}

int integer(const scenario_line& line, size_t i) {
    int value = 0;
    parseInt32(line.words[i], value);
    return value;
}

// The shape of each verb: the words before the free text (or all words),
// whether the rest of the line is a text, and whether it may be empty.
struct verb_row {
    const char* verb;
    size_t fixedWords;
    size_t maxWords;
    bool freeText;
    bool textRequired;
    const char* usage;
    const char* meaning;
    bool (*check)(const scenario_line&, std::string& why);
};

bool noCheck(const scenario_line&, std::string&) { return true; }

bool checkThreeIntegers(const scenario_line& line, std::string& why) {
    for (size_t i = 0; i < 3; ++i)
        if (!integerAt(line, i, why)) return false;
    return true;
}

bool checkAnswer(const scenario_line& line, std::string& why) {
    int device = 0;
    if (!parseInt32(line.words[0], device)) {
        why = quoted(line.words[0]) + " is not a device number";
        return false;
    }
    if (line.words[1] == "yes" || line.words[1] == "no") return true;
    why = "answer takes yes or no";
    return false;
}

bool checkAdvance(const scenario_line& line, std::string& why) {
    long long ms = 0;
    if (parseWait(line.words[0], ms)) return true;
    why = quoted(line.words[0]) + " is not a duration";
    return false;
}

bool checkValue(const scenario_line& line, std::string& why) { return integerAt(line, 1, why); }

const std::vector<verb_row>& verbRows() {
    static const std::vector<verb_row> table = {
        {"create", 1, 2, false, false, "create NAME [MODULE]",
         "creates a component (default module: `Korvane.so`, or `--module`; a relative MODULE is a file of the "
         "script's folder)",
         noCheck},
        {"destroy", 1, 1, false, false, "destroy NAME", "destroys it", noCheck},
        {"send", 1, 1, true, false, "send NAME [TEXT]", "sends a parent command; the reply is shown", noCheck},
        {"route", 3, 3, false, false, "route DEVICE DESTINATION SOURCE", "takes a crosspoint", checkThreeIntegers},
        {"rename", 3, 3, true, true, "rename DEVICE DATABASE INDEX NAME", "renames a database entry",
         checkThreeIntegers},
        {"answer", 2, 2, false, false, "answer DEVICE yes|no", "whether the router answers at all", checkAnswer},
        {"advance", 1, 1, false, false, "advance DURATION",
         "moves the host clock: `500`, `500ms`, `10s`, `2m`; timers fire on the way (at most 1000000 timer ticks a "
         "step)",
         checkAdvance},
        {"button", 2, 2, true, false, "button NAME ID [EVENT]",
         "a button event; EVENT is split at its first `=` into command and value", noCheck},
        {"value", 2, 2, false, false, "value NAME INTEGER", "an integer message (type 7)", checkValue},
        {"say", 0, 0, true, false, "say TEXT", "prints TEXT in the transcript", noCheck},
        {"show", 0, 0, false, false, "show", "prints every component's display", noCheck},
    };
    return table;
}

struct expect_row {
    const char* kind;
    size_t fixedWords;
    bool textRequired;
    const char* usage;
    const char* meaning;
};

const std::vector<expect_row>& expectRows() {
    static const std::vector<expect_row> table = {
        {"reply", 0, true, "expect reply TEXT|null", "the last `send` got that reply (`null`: no reply)"},
        {"sent", 1, true, "expect sent NAME TEXT|nothing",
         "the next command NAME sent in this step (after those already expected) is TEXT; `nothing`: NAME sent "
         "nothing more in this step"},
        {"property", 4, false, "expect property NAME PANEL CONTROL PROPERTY [VALUE]",
         "the property has that value (empty when VALUE is left out)"},
        {"notify", 1, true, "expect notify NAME TEXT|nothing",
         "the last parent notification of NAME is TEXT (`nothing`: none yet)"},
    };
    return table;
}

std::string expectKinds() {
    std::string kinds;
    for (const expect_row& e : expectRows()) kinds += (kinds.empty() ? "" : ", ") + std::string(e.kind);
    return kinds;
}

bool parseExpect(scenario_line& line, const std::string& args, std::string& message) {
    std::vector<std::string> kind;
    std::string afterKind;
    splitWords(args, 1, kind, afterKind);
    if (kind.empty()) {
        message = "expect what? (" + expectKinds() + ")";
        return false;
    }
    const expect_row* row = nullptr;
    for (const expect_row& e : expectRows())
        if (kind[0] == e.kind) row = &e;
    if (!row) {
        message = "unknown expectation " + quoted(kind[0]) + " (" + expectKinds() + ")";
        return false;
    }
    line.words.push_back(kind[0]);
    std::vector<std::string> words;
    splitWords(afterKind, row->fixedWords, words, line.rest);
    if (words.size() < row->fixedWords || (row->textRequired && line.rest.empty())) {
        message = std::string("usage: ") + row->usage;
        return false;
    }
    line.words.insert(line.words.end(), words.begin(), words.end());
    return true;
}

}  // namespace

std::vector<verb_info> verbs() {
    std::vector<verb_info> all;
    for (const verb_row& v : verbRows()) all.push_back(verb_info{v.verb, v.usage, v.meaning});
    for (const expect_row& e : expectRows()) all.push_back(verb_info{"expect", e.usage, e.meaning});
    return all;
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool parseScenario(const std::string& file, const std::string& text, scenario& out, std::string& error) {
    scenario script;
    script.file = file;
    std::istringstream lines(text);
    std::string raw;
    for (int number = 1; std::getline(lines, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const size_t first = raw.find_first_not_of(" \t");
        if (first == std::string::npos || raw[first] == '#') continue;
        const std::string content = raw.substr(first);
        scenario_line line;
        line.number = number;
        const size_t verbEnd = content.find(' ');
        line.verb = content.substr(0, verbEnd);
        const std::string args = verbEnd == std::string::npos ? "" : content.substr(verbEnd + 1);
        std::string message;
        const auto fail = [&](const std::string& why) {
            error = file + ":" + std::to_string(number) + ": " + why;
            return false;
        };

        if (line.verb == "expect") {
            if (!parseExpect(line, args, message)) return fail(message);
            script.lines.push_back(line);
            continue;
        }
        const verb_row* row = nullptr;
        for (const verb_row& v : verbRows())
            if (line.verb == v.verb) row = &v;
        if (!row) return fail("unknown command " + quoted(line.verb));
        if (row->freeText) {
            splitWords(args, row->fixedWords, line.words, line.rest);
        } else {
            std::string extra;
            splitWords(args, row->maxWords, line.words, extra);
            if (!extra.empty() && extra.find_first_not_of(' ') != std::string::npos)
                return fail(std::string("too many words; usage: ") + row->usage);
        }
        if (line.words.size() < row->fixedWords || (row->textRequired && line.rest.empty()))
            return fail(std::string("usage: ") + row->usage);
        if (!row->check(line, message)) return fail(message);
        script.lines.push_back(line);
    }
    out = std::move(script);
    return true;
}

// What the expectations look back on, collected as the engine tells it.
class scenario_session::recorder : public host_listener {
public:
    struct step_commands {
        std::vector<std::string> kept;
        size_t total = 0;
        size_t checked = 0;
    };

    void commandSent(const std::string& component, const std::string& text) override {
        step_commands& commands = step_[component];
        ++commands.total;
        if (commands.kept.size() < kept_step_commands) commands.kept.push_back(text);
    }
    void parentNotified(const std::string& component, const std::string& text) override {
        latestNotification_[component] = text;
    }
    void componentDestroyed(const std::string& component) override { latestNotification_.erase(component); }

    void beginStep() { step_.clear(); }
    step_commands& commands(const std::string& component) { return step_[component]; }
    const std::string* notification(const std::string& component) const {
        const auto n = latestNotification_.find(component);
        return n == latestNotification_.end() ? nullptr : &n->second;
    }

private:
    std::map<std::string, step_commands> step_;
    std::map<std::string, std::string> latestNotification_;
};

scenario_session::scenario_session(host_engine& engine, const scenario_settings& settings, transcript out)
    : engine_(engine), settings_(settings), out_(std::move(out)), recorder_(std::make_unique<recorder>()) {
    engine_.addListener(recorder_.get());
}

scenario_session::~scenario_session() { engine_.removeListener(recorder_.get()); }

bool scenario_session::expect(const scenario_line& line, const std::function<bool(const std::string&)>& failed) {
    const std::string& kind = line.words[0];
    const auto word = [&](size_t i) { return line.words[i]; };
    const std::string expected = unescaped(line.rest);
    if (kind == "reply") {
        if (!anyReply_) return failed("expect reply: no parent command was sent yet");
        const std::string got = lastReply_ ? quoted(*lastReply_) : "null";
        const bool match = line.rest == "null" ? !lastReply_ : lastReply_ && *lastReply_ == expected;
        if (!match) return failed("expect reply " + escaped(line.rest) + "\n  got: " + got);
    } else if (kind == "sent") {
        const std::string& name = word(1);
        recorder::step_commands& sent = recorder_->commands(name);
        std::string all;
        for (size_t i = 0; i < sent.kept.size() && i < listed_commands; ++i) all += "\n    " + escapedControls(sent.kept[i]);
        if (sent.total > listed_commands) all += "\n    ... " + std::to_string(sent.total - listed_commands) + " more";
        if (all.empty()) all = " nothing";
        if (line.rest == "nothing") {
            if (sent.checked < sent.total)
                return failed("expect sent " + name + " nothing\n  but it also sent: " +
                              (sent.checked < sent.kept.size() ? escapedControls(sent.kept[sent.checked])
                                                               : std::string("more commands")) +
                              "\n  commands of this step:" + all);
        } else if (sent.checked >= sent.kept.size() || sent.kept[sent.checked] != expected) {
            const std::string got = sent.checked < sent.kept.size() ? escapedControls(sent.kept[sent.checked])
                                    : sent.checked < sent.total
                                        ? "(only the first " + std::to_string(kept_step_commands) +
                                              " commands of a step are kept)"
                                        : std::string("nothing more");
            return failed("expect sent " + name + " " + escapedControls(line.rest) + "\n  got: " + got +
                          "\n  commands of this step:" + all);
        } else {
            ++sent.checked;
        }
    } else if (kind == "property") {
        const std::optional<std::string> value = engine_.components().property(word(1), word(2), word(3), word(4));
        if (!value || *value != expected)
            return failed("expect property " + word(1) + " " + word(2) + " " + word(3) + " " + word(4) + " " +
                          quoted(expected) + "\n  got: " + (value ? quoted(*value) : std::string("no such property")));
    } else if (kind == "notify") {
        const std::string* latest = recorder_->notification(word(1));
        const bool match = line.rest == "nothing" ? !latest : latest && *latest == expected;
        if (!match)
            return failed("expect notify " + word(1) + " " + escapedControls(line.rest) +
                          "\n  got: " + (latest ? quoted(*latest) : std::string("nothing")));
    }
    return true;
}

bool scenario_session::run(const std::string& file, const std::string& folder, const scenario_line& line,
                           scenario_result& result) {
    const std::string where = escapedControls(file) + ":" + std::to_string(line.number) + ": ";
    const auto failed = [&](const std::string& what) {
        result.passed = false;
        result.failure = where + what;
        return false;
    };
    const auto word = [&](size_t i) { return line.words[i]; };
    std::string error;

    if (line.verb == "expect") {
        ++result.expectations;
        return expect(line, failed);
    }
    if (line.verb == "say") {
        out_(transcript_kind::say, line.rest);
        return true;
    }
    if (line.verb == "show") {
        for (const std::string& name : engine_.components().names())
            out_(transcript_kind::display, displayLine(engine_.components(), name));
        return true;
    }

    // Every other line is a step: it opens a new window of commands.
    recorder_->beginStep();
    bool ok = true;
    if (line.verb == "create") {
        const std::string module = line.words.size() > 1 ? resolveModulePath(word(1), folder) : settings_.module;
        const engine_components::create_status status =
            engine_.components().create(word(0), module, settings_.layoutFolder, error);
        ok = status == engine_components::create_status::created;
        result.loadError = status == engine_components::create_status::load_failed;
    } else if (line.verb == "destroy") {
        ok = engine_.components().destroy(word(0), error);
    } else if (line.verb == "send") {
        ok = engine_.components().parent(
            word(0), line.rest.c_str(), lastReply_, error, [&](const std::optional<std::string>& reply) {
                out_(transcript_kind::reply, word(0) + " replied " + (reply ? quoted(*reply) : "null"));
            });
        anyReply_ = true;
    } else if (line.verb == "route") {
        ok = engine_.routers().route(integer(line, 0), integer(line, 1), integer(line, 2), error);
    } else if (line.verb == "rename") {
        ok = engine_.routers().rename(integer(line, 0), integer(line, 1), integer(line, 2), line.rest, error);
    } else if (line.verb == "answer") {
        ok = engine_.routers().setAnswers(integer(line, 0), word(1) == "yes", error);
    } else if (line.verb == "advance") {
        long long ms = 0;
        parseWait(word(0), ms);
        ok = engine_.advance(static_cast<uint64_t>(ms), error);
    } else if (line.verb == "button") {
        ok = engine_.components().button(word(0), word(1), line.rest, error);
    } else if (line.verb == "value") {
        ok = engine_.components().value(word(0), integer(line, 1), error);
    }
    if (!ok) return failed(line.verb + ": " + escapedControls(error));
    return true;
}

scenario_result runScenario(const scenario& script, host_engine& engine, const scenario_settings& settings,
                            const transcript& out, const scenario_hooks& hooks) {
    scenario_result result;
    {
        scenario_session session(engine, settings, out);
        for (const scenario_line& line : script.lines) {
            if (!session.run(script.file, script.folder, line, result)) return result;
            if (hooks.afterLine) hooks.afterLine();
        }
    }
    if (hooks.beforeTeardown) hooks.beforeTeardown();
    // The components leave with the script, so that their teardown is
    // checked too.
    engine.components().destroyAll();
    if (!engine.components().problems().empty()) {
        result.passed = false;
        std::string all;
        for (const std::string& p : engine.components().problems()) all += "\n  " + escapedControls(p);
        result.failure = escapedControls(script.file) + ": the components broke the host contract:" + all;
    }
    return result;
}

}  // namespace quon
