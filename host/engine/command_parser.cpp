#include "quon/engine/command_parser.h"

#include "quon/common/decimal.h"

namespace quon {

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
        if (!parseInt32(std::string_view(rest).substr(start + 1, (end == std::string::npos ? rest.size() : end) - start - 1),
                        value))
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

std::string plural(int count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

bool parseHostCommand(const std::string& text, host_command& out, std::string& error) {
    out = host_command();
    if (text.size() < 2) {
        error = "no command word";
        return false;
    }
    const host_command_info* info = findHostCommand(std::string_view(text).substr(0, 2));
    if (!info) {
        error = "unknown command word \"" + text.substr(0, 2) + "\"";
        return false;
    }
    out.info = info;
    const std::string rest = text.substr(2);
    const std::string word = info->text;

    switch (info->fields) {
        case field_kind::none:
            if (rest.empty()) return true;
            error = "\"" + word + "\" takes no field";
            return false;
        case field_kind::texts: {
            // "PS" has an optional third field; the others a fixed count.
            const int count = info->minFields == info->maxFields
                                  ? info->minFields
                                  : (countOf(rest, "' '") >= static_cast<size_t>(info->maxFields) - 1 ? info->maxFields
                                                                                                      : info->minFields);
            if (!splitQuoted(rest, static_cast<size_t>(count), out.texts)) {
                error = "\"" + word + "\" takes " + plural(count, "quoted field");
                return false;
            }
            if (info->word == host_word::TP && out.texts[0].find('=') == std::string::npos) {
                error = "\"TP\" needs property=value as its first field";
                return false;
            }
            return true;
        }
        case field_kind::numbers: {
            std::string numbers = rest;
            if (info->word == host_word::RR && numbers.size() >= 6 &&
                numbers.compare(numbers.size() - 6, 6, " 'ADD'") == 0) {
                out.add = true;
                numbers.erase(numbers.size() - 6);
            }
            const int found = splitNumbers(numbers, out.numbers) ? static_cast<int>(out.numbers.size()) : -1;
            if (found < info->minFields || found > info->maxFields) {
                error = "\"" + word + "\" takes " +
                        (info->word == host_word::ET ? std::string("a timer id and an optional interval")
                                                     : plural(info->minFields, "decimal number")) +
                        " separated by single blanks";
                return false;
            }
            return true;
        }
    }
    return false;
}

}  // namespace quon
