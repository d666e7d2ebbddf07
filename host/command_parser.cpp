#include "command_parser.h"

#include "decimal_text.h"

namespace {

// Splits " 'a' 'b' 'c'" into `count` fields, the first taking whatever is
// left once the others are split off from the right.
bool splitQuoted(const std::string& rest, size_t count, std::vector<std::string>& out) {
    if (rest.size() < 3 || rest.compare(0, 2, " '") != 0 || rest.back() != '\'') return false;
    std::string inner = rest.substr(2, rest.size() - 3);
    std::vector<std::string> fromRight;
    while (fromRight.size() + 1 < count) {
        const size_t separator = inner.rfind("' '");
        if (separator == std::string::npos) return false;
        fromRight.push_back(inner.substr(separator + 3));
        inner.erase(separator);
    }
    out.assign(1, inner);
    out.insert(out.end(), fromRight.rbegin(), fromRight.rend());
    return true;
}

bool splitNumbers(const std::string& rest, std::vector<int>& out) {
    size_t start = 0;
    while (start < rest.size()) {
        if (rest[start] != ' ') return false;
        const size_t end = rest.find(' ', start + 1);
        int value = 0;
        if (!parseInt32(rest.substr(start + 1, (end == std::string::npos ? rest.size() : end) - start - 1), value))
            return false;
        out.push_back(value);
        start = end == std::string::npos ? rest.size() : end;
    }
    return true;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

bool parseHostCommand(const std::string& text, host_command& out, std::string& error) {
    out = host_command();
    if (text.size() < 2) {
        error = "no command word";
        return false;
    }
    out.word = text.substr(0, 2);
    const std::string rest = text.substr(2);
    const std::string& w = out.word;

    if (w == "AS") {
        if (rest.empty()) return true;
        error = "\"AS\" takes no field";
        return false;
    }
    if (w == "PS" || w == "TP" || w == "TG" || w == "HN" || w == "SD" || w == "XI") {
        size_t count = w == "HN" || w == "SD" ? 1 : w == "XI" ? 2 : w == "PS" ? (countOf(rest, "' '") >= 2 ? 3 : 2) : 3;
        if (!splitQuoted(rest, count, out.texts)) {
            error = "\"" + w + "\" takes " + std::to_string(count) + " quoted field" + (count > 1 ? "s" : "");
            return false;
        }
        if (w == "TP" && out.texts[0].find('=') == std::string::npos) {
            error = "\"TP\" needs property=value as its first field";
            return false;
        }
        return true;
    }
    if (w == "RR" || w == "RU" || w == "RP" || w == "RN" || w == "ET") {
        std::string numbers = rest;
        if (w == "RR" && numbers.size() >= 6 && numbers.compare(numbers.size() - 6, 6, " 'ADD'") == 0) {
            out.add = true;
            numbers.erase(numbers.size() - 6);
        }
        const size_t expected = w == "RU" ? 1 : w == "ET" ? 0 : 3;
        if (!splitNumbers(numbers, out.numbers) ||
            (expected ? out.numbers.size() != expected : out.numbers.empty() || out.numbers.size() > 2)) {
            error = "\"" + w + "\" takes " +
                    (w == "ET" ? std::string("a timer id and an optional interval")
                               : std::to_string(expected) + " decimal number" + (expected > 1 ? "s" : "")) +
                    " separated by single blanks";
            return false;
        }
        return true;
    }
    error = "unknown command word \"" + w + "\"";
    return false;
}
