#include "quon/common/text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace quon {

namespace {

std::string escapedText(std::string_view text, bool quotes, bool ascii = false) {
    // Nearly every text has nothing to escape: it is copied whole.
    bool plain = true;
    for (const unsigned char c : text)
        plain &= c >= 0x20 && c != 0x7f && !(quotes && (c == '"' || c == '\\')) && !(ascii && c > 0x7f);
    if (plain) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (quotes && (c == '"' || c == '\\')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f || (ascii && c > 0x7f)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::string();
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

std::string escaped(std::string_view text) { return escapedText(text, true); }

std::string escapedControls(std::string_view text) { return escapedText(text, false); }

std::string escapedBytes(std::string_view text) { return escapedText(text, false, true); }

std::string counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string utcText(std::chrono::system_clock::time_point time) {
    if (time == std::chrono::system_clock::time_point{}) return "";
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    // Lines are stamped by the thousand within a second (a large wall's
    // start): the text of the second last asked is kept, one a thread.
    thread_local std::time_t last = 0;
    thread_local char text[32] = "";
    if (seconds != last || !text[0]) {
        std::tm parts{};
        gmtime_r(&seconds, &parts);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
        last = seconds;
    }
    return text;
}

std::string utcMillisText(std::chrono::system_clock::time_point time) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    std::string text = utcText(std::chrono::time_point_cast<std::chrono::seconds>(time));
    if (text.empty()) return text;
    const int m = static_cast<int>(millis < 0 ? millis + 1000 : millis);
    const char fraction[] = {'.', static_cast<char>('0' + m / 100), static_cast<char>('0' + m / 10 % 10),
                             static_cast<char>('0' + m % 10)};
    return text.insert(text.size() - 1, fraction, sizeof fraction);
}

namespace {

// What Windows-1252 puts at 0x80-0x9F.
constexpr char32_t windows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                          0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Appends the characters of `text` when it is strict UTF-8; false (with
// `out` partly filled) when it is not.
bool decodeUtf8(std::string_view text, std::u32string* out) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (out) out->push_back(lead);
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t value = 0;
        unsigned char secondLow = 0x80, secondHigh = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
            if (lead == 0xE0) secondLow = 0xA0;   // no overlong forms
            if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
            if (lead == 0xF0) secondLow = 0x90;
            if (lead == 0xF4) secondHigh = 0x8F;  // nothing past U+10FFFF
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < secondLow || second > secondHigh) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if ((byte & 0xC0) != 0x80) return false;
            value = (value << 6) | (byte & 0x3F);
        }
        if (out) out->push_back(value);
        i += length;
    }
    return true;
}

}  // namespace

bool isUtf8(std::string_view text) { return decodeUtf8(text, nullptr); }

std::u32string systemCharacters(std::string_view text) {
    std::u32string characters;
    characters.reserve(text.size());
    if (decodeUtf8(text, &characters)) return characters;
    characters.clear();
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        characters.push_back(value >= 0x80 && value < 0xA0 ? windows1252High[value - 0x80] : char32_t{value});
    }
    return characters;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string systemText(std::string_view text) {
    if (isUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (const char32_t c : systemCharacters(text)) appendUtf8(out, c);
    return out;
}

}  // namespace quon
