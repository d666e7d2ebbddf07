#include "scenario.h"

#include "decimal_text.h"

#include <climits>
#include <map>
#include <optional>
#include <sstream>

namespace {

struct verb_shape {
    size_t fixedWords;  // words before the free text (or all words)
    size_t maxWords;    // most words when there is no free text
    bool freeText;      // the rest of the line is a text
    const char* usage;
};

const std::map<std::string, verb_shape>& verbs() {
    static const std::map<std::string, verb_shape> table = {
        {"say", {0, 0, true, "say TEXT"}},
        {"create", {1, 2, false, "create NAME [MODULE]"}},
        {"destroy", {1, 1, false, "destroy NAME"}},
        {"send", {1, 1, true, "send NAME [TEXT]"}},
        {"route", {3, 3, false, "route DEVICE DESTINATION SOURCE"}},
        {"rename", {3, 3, true, "rename DEVICE DATABASE INDEX NAME"}},
        {"answer", {2, 2, false, "answer DEVICE yes|no"}},
        {"advance", {1, 1, false, "advance DURATION (500, 500ms, 10s or 2m)"}},
        {"button", {2, 2, true, "button NAME ID [EVENT]"}},
        {"value", {2, 2, false, "value NAME INTEGER"}},
        {"show", {0, 0, false, "show"}},
    };
    return table;
}

bool parseDuration(const std::string& word, long long& milliseconds) {
    struct unit {
        const char* suffix;
        long long factor;
    };
    for (const unit u : {unit{"ms", 1}, unit{"s", 1000}, unit{"m", 60000}, unit{"", 1}}) {
        const std::string suffix = u.suffix;
        if (word.size() > suffix.size() && word.compare(word.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            parseDecimal(word.substr(0, word.size() - suffix.size()), 0, 1000000000LL, milliseconds)) {
            milliseconds *= u.factor;
            return true;
        }
    }
    return false;
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

bool parseExpect(scenario_line& line, const std::string& args, std::string& message) {
    std::vector<std::string> kind;
    std::string afterKind;
    splitWords(args, 1, kind, afterKind);
    if (kind.empty()) {
        message = "expect what? (reply, sent, property, notify)";
        return false;
    }
    line.words.push_back(kind[0]);
    size_t fixed = 0;
    const char* usage = "";
    if (kind[0] == "reply") {
        fixed = 0;
        usage = "expect reply TEXT|null";
    } else if (kind[0] == "sent") {
        fixed = 1;
        usage = "expect sent NAME TEXT|nothing";
    } else if (kind[0] == "property") {
        fixed = 4;
        usage = "expect property NAME PANEL CONTROL PROPERTY [VALUE]";
    } else if (kind[0] == "notify") {
        fixed = 1;
        usage = "expect notify NAME TEXT|nothing";
    } else {
        message = "unknown expectation \"" + kind[0] + "\" (reply, sent, property, notify)";
        return false;
    }
    std::vector<std::string> words;
    splitWords(afterKind, fixed, words, line.rest);
    if (words.size() < fixed || (kind[0] != "property" && line.rest.empty())) {
        message = std::string("usage: ") + usage;
        return false;
    }
    line.words.insert(line.words.end(), words.begin(), words.end());
    return true;
}

}  // namespace

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
        const auto shape = verbs().find(line.verb);
        if (shape == verbs().end()) return fail("unknown command \"" + line.verb + "\"");
        const verb_shape& s = shape->second;
        if (s.freeText) {
            splitWords(args, s.fixedWords, line.words, line.rest);
        } else {
            std::string extra;
            splitWords(args, s.maxWords, line.words, extra);
            if (!extra.empty() && extra.find_first_not_of(' ') != std::string::npos)
                return fail(std::string("too many words; usage: ") + s.usage);
        }
        if (line.words.size() < s.fixedWords) return fail(std::string("usage: ") + s.usage);
        if ((line.verb == "rename") && line.rest.empty()) return fail(std::string("usage: ") + s.usage);

        const auto integerAt = [&](size_t i) {
            int ignored = 0;
            return parseInt32(line.words[i], ignored);
        };
        if (line.verb == "route" || line.verb == "rename") {
            for (size_t i = 0; i < 3; ++i)
                if (!integerAt(i)) return fail("\"" + line.words[i] + "\" is not a 32-bit integer");
        } else if (line.verb == "answer") {
            if (!integerAt(0)) return fail("\"" + line.words[0] + "\" is not a device number");
            if (line.words[1] != "yes" && line.words[1] != "no") return fail("answer takes yes or no");
        } else if (line.verb == "advance") {
            long long ms = 0;
            if (!parseDuration(line.words[0], ms)) return fail("\"" + line.words[0] + "\" is not a duration");
        } else if (line.verb == "value") {
            if (!integerAt(1)) return fail("\"" + line.words[1] + "\" is not a 32-bit integer");
        }
        script.lines.push_back(line);
    }
    out = std::move(script);
    return true;
}

scenario_session::scenario_session(host_engine& engine, const scenario_settings& settings,
                                   std::function<void(const std::string&)> out)
    : engine_(engine), settings_(settings), out_(std::move(out)) {}

bool scenario_session::run(const std::string& file, const scenario_line& line, scenario_result& result) {
    const std::string where = file + ":" + std::to_string(line.number) + ": ";
    const auto failed = [&](const std::string& what) {
        result.passed = false;
        result.failure = where + what;
        return false;
    };
    const auto word = [&](size_t i) { return line.words[i]; };
    const auto integer = [&](size_t i) { return static_cast<int>(std::stoll(line.words[i])); };
    std::string error;

    if (line.verb == "expect") {
        ++result.expectations;
        const std::string& kind = word(0);
        const std::string expected = unescaped(line.rest);
        if (kind == "reply") {
            if (!anyReply_) return failed("expect reply: no parent command was sent yet");
            const std::string got = lastReply_ ? "\"" + escaped(*lastReply_) + "\"" : "null";
            const bool match = line.rest == "null" ? !lastReply_ : lastReply_ && *lastReply_ == expected;
            if (!match) return failed("expect reply " + line.rest + "\n  got: " + got);
        } else if (kind == "sent") {
            const std::string& name = word(1);
            const std::vector<std::string> sent = engine_.commandsThisStep(name);
            size_t& checked = sentChecked_[name];
            std::string all;
            for (const std::string& c : sent) all += "\n    " + c;
            if (all.empty()) all = " nothing";
            if (line.rest == "nothing") {
                if (checked < sent.size())
                    return failed("expect sent " + name + " nothing\n  but it also sent: " + sent[checked] +
                                  "\n  commands of this step:" + all);
            } else if (checked >= sent.size() || sent[checked] != expected) {
                return failed("expect sent " + name + " " + line.rest +
                              "\n  got: " + (checked < sent.size() ? sent[checked] : std::string("nothing more")) +
                              "\n  commands of this step:" + all);
            } else {
                ++checked;
            }
        } else if (kind == "property") {
            const std::optional<std::string> value = engine_.property(word(1), word(2), word(3), word(4));
            if (!value || *value != expected)
                return failed("expect property " + word(1) + " " + word(2) + " " + word(3) + " " + word(4) + " \"" +
                              escaped(expected) + "\"\n  got: " +
                              (value ? "\"" + escaped(*value) + "\"" : std::string("no such property")));
        } else if (kind == "notify") {
            const std::vector<std::string> notes = engine_.notifications(word(1));
            const bool match = line.rest == "nothing" ? notes.empty() : !notes.empty() && notes.back() == expected;
            if (!match)
                return failed("expect notify " + word(1) + " " + line.rest + "\n  got: " +
                              (notes.empty() ? std::string("nothing") : "\"" + escaped(notes.back()) + "\""));
        }
        return true;
    }
    if (line.verb == "say") {
        out_("# " + line.rest);
        return true;
    }
    if (line.verb == "show") {
        for (const std::string& name : engine_.components()) out_("  " + engine_.display(name));
        return true;
    }

    // Every other line is a step: it opens a new window of commands.
    engine_.beginStep();
    sentChecked_.clear();
    bool ok = true;
    if (line.verb == "create") {
        const host_engine::create_status status =
            engine_.create(word(0), line.words.size() > 1 ? word(1) : settings_.module, settings_.layoutFolder, error);
        ok = status == host_engine::create_status::created;
        result.loadError = status == host_engine::create_status::load_failed;
    } else if (line.verb == "destroy") {
        ok = engine_.destroy(word(0), error);
    } else if (line.verb == "send") {
        ok = engine_.parent(word(0), line.rest.c_str(), lastReply_, error);
        anyReply_ = true;
        if (ok) out_("  " + word(0) + " replied " + (lastReply_ ? "\"" + escaped(*lastReply_) + "\"" : "null"));
    } else if (line.verb == "route") {
        ok = engine_.route(integer(0), integer(1), integer(2), error);
    } else if (line.verb == "rename") {
        ok = engine_.rename(integer(0), integer(1), integer(2), line.rest, error);
    } else if (line.verb == "answer") {
        ok = engine_.setAnswers(integer(0), word(1) == "yes", error);
    } else if (line.verb == "advance") {
        long long ms = 0;
        parseDuration(word(0), ms);
        engine_.advance(static_cast<uint64_t>(ms));
    } else if (line.verb == "button") {
        ok = engine_.button(word(0), word(1), line.rest, error);
    } else if (line.verb == "value") {
        ok = engine_.value(word(0), integer(1), error);
    }
    if (!ok) return failed(line.verb + ": " + error);
    return true;
}

scenario_result runScenario(const scenario& script, host_engine& engine, const scenario_settings& settings,
                            const std::function<void(const std::string&)>& out) {
    scenario_result result;
    scenario_session session(engine, settings, out);
    for (const scenario_line& line : script.lines)
        if (!session.run(script.file, line, result)) return result;
    // The components leave with the script, so that their teardown is
    // checked too.
    engine.beginStep();
    engine.destroyAll();
    if (!engine.problems().empty()) {
        result.passed = false;
        std::string all;
        for (const std::string& p : engine.problems()) all += "\n  " + p;
        result.failure = script.file + ": the components broke the host contract:" + all;
    }
    return result;
}
