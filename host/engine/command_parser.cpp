#include "quon/engine/command_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quon {

namespace {

// Splits " 'a' 'b' 'c'" into `count` fields, the first taking whatever is
// left once the others are split off from the right.
bool splitQuoted(std::string_view rest, int count, std::string_view* out) {
    if (rest.size() < 3 || rest.substr(0, 2) != " '" || rest.back() != '\'') return false;
    std::string_view inner = rest.substr(2, rest.size() - 3);
    for (int field = count - 1; field > 0; --field) {
        const size_t separator = inner.rfind("' '");
        if (separator == std::string_view::npos) return false;
        out[field] = inner.substr(separator + 3);
        inner = inner.substr(0, separator);
    }
    out[0] = inner;
    return true;
}

// A decimal 32-bit integer, as parseInt32 reads it, without its 64-bit
// detour: the numbers of every "RN" of every revertive pass here.
bool readInt32(std::string_view text, int& out) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty()) return false;
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1) return false;  // leading zeros may come first
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<int>(value);
    return true;
}

// The numbers of " 1 2 3"; -1 when a field is not a number or there are
// more than `room`.
int splitNumbers(std::string_view rest, int* out, int room) {
    int count = 0;
    size_t start = 0;
    while (start < rest.size()) {
        if (rest[start] != ' ' || count == room) return -1;
        const size_t end = rest.find(' ', start + 1);
        const size_t stop = end == std::string_view::npos ? rest.size() : end;
        if (!readInt32(rest.substr(start + 1, stop - start - 1), out[count])) return -1;
        ++count;
        start = stop;
    }
    return count;
}

size_t countOf(std::string_view text, std::string_view part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string plural(int count, const char* what) { return std::to_string(count) + " " + what + (count == 1 ? "" : "s"); }

}  // namespace

namespace command_reading {

namespace {

// Where the last "' '" of [begin, end) begins, or null: its blank found
// by memrchr (most fields it skips are a control's id, a few letters).
const char* lastSeparator(const char* begin, const char* end) {
    if (end - begin < 3) return nullptr;
    const char* const first = begin + 1;  // the first place a separator's blank can take
    for (const char* stop = end - 1; stop > first;) {
        const char* const blank = static_cast<const char*>(memrchr(first, ' ', static_cast<size_t>(stop - first)));
        if (!blank) return nullptr;
        if (blank[-1] == '\'' && blank[1] == '\'') return blank - 1;
        stop = blank;
    }
    return nullptr;
}

}  // namespace

// Only the fields the word has are written (a reader of `out` reads
// textCount texts and numberCount numbers).
bool quick(std::string_view text, host_command& out) {
    const size_t size = text.size();
    if (size < 5 || text[2] != ' ') return false;
    const char* const begin = text.data();
    const char* const end = begin + size;
    const char first = begin[0], second = begin[1];
    if (quickRouterName(text, out.numbers)) {
        static const host_command_info& rn = hostCommand(host_word::RN);
        out.info = &rn;
        out.numberCount = 3;
        out.textCount = 0;
        out.add = false;
        return true;
    }
    if (std::string_view notification; quickNotification(text, notification)) {
        static const host_command_info& hn = hostCommand(host_word::HN);
        out.info = &hn;
        out.texts[0] = notification;
        out.textCount = 1;
        out.numberCount = 0;
        out.add = false;
        return true;
    }
    if (second != 'P' || begin[3] != '\'' || end[-1] != '\'') return false;
    const char* const inner = begin + 4;
    const char* const innerEnd = end - 1;
    if (first == 'T' && second == 'P') {
        const char* const last = lastSeparator(inner, innerEnd);
        if (!last) return false;
        const char* const middle = lastSeparator(inner, last);
        if (!middle || std::find(inner, middle, '=') == middle) return false;
        static const host_command_info& tp = hostCommand(host_word::TP);
        out.info = &tp;
        out.texts[0] = std::string_view(inner, static_cast<size_t>(middle - inner));
        out.texts[1] = std::string_view(middle + 3, static_cast<size_t>(last - middle - 3));
        out.texts[2] = std::string_view(last + 3, static_cast<size_t>(innerEnd - last - 3));
        out.textCount = 3;
        out.numberCount = 0;
        out.add = false;
        return true;
    }
    return false;
}

bool full(std::string_view text, host_command& out, std::string& error) {
    out = host_command();
    if (text.size() < 2) {
        error = "no command word";
        return false;
    }
    const host_command_info* info = findHostCommand(text.substr(0, 2));
    if (!info) {
        error = "unknown command word \"" + std::string(text.substr(0, 2)) + "\"";
        return false;
    }
    out.info = info;
    const std::string_view rest = text.substr(2);
    const char* word = info->text;

    switch (info->fields) {
        case field_kind::none:
            if (rest.empty()) return true;
            error = std::string("\"") + word + "\" takes no field";
            return false;
        case field_kind::texts: {
            // "PS" has an optional third field; the others a fixed count.
            const int count =
                info->minFields == info->maxFields
                    ? info->minFields
                    : (countOf(rest, "' '") >= static_cast<size_t>(info->maxFields) - 1 ? info->maxFields
                                                                                        : info->minFields);
            if (!splitQuoted(rest, count, out.texts)) {
                error = std::string("\"") + word + "\" takes " + plural(count, "quoted field");
                return false;
            }
            out.textCount = count;
            if (info->word == host_word::TP && out.texts[0].find('=') == std::string_view::npos) {
                error = "\"TP\" needs property=value as its first field";
                return false;
            }
            return true;
        }
        case field_kind::numbers: {
            std::string_view numbers = rest;
            if (info->word == host_word::RR && numbers.size() >= 6 && numbers.substr(numbers.size() - 6) == " 'ADD'") {
                out.add = true;
                numbers.remove_suffix(6);
            }
            const int found = splitNumbers(numbers, out.numbers, host_command::max_fields);
            if (found < info->minFields || found > info->maxFields) {
                error = std::string("\"") + word + "\" takes " +
                        (info->word == host_word::ET ? std::string("a timer id and an optional interval")
                                                     : plural(info->minFields, "decimal number")) +
                        " separated by single blanks";
                return false;
            }
            out.numberCount = found;
            return true;
        }
    }
    return false;
}

}  // namespace command_reading

}  // namespace quon
