#include "quon/umd/umd_text.h"

namespace {

// The characters Windows-1252 puts at 0x80-0x9F; its five unassigned bytes
// stay C1 control characters, as browsers decode them.
constexpr char32_t kWindows1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool decodeUtf8(std::string_view text, std::u32string& out) {
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        char32_t value = 0;
        unsigned char secondMin = 0x80, secondMax = 0xBF;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
            if (lead == 0xE0) secondMin = 0xA0;
            if (lead == 0xED) secondMax = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
            if (lead == 0xF0) secondMin = 0x90;
            if (lead == 0xF4) secondMax = 0x8F;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < secondMin || second > secondMax) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if (!isContinuation(byte)) return false;
            value = (value << 6) | (byte & 0x3F);
        }
        out.push_back(value);
        i += length;
    }
    return true;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::u32string decodeSourceName(std::string_view name) {
    std::u32string characters;
    if (decodeUtf8(name, characters)) return characters;
    characters.clear();
    for (const char byte : name) {
        const auto value = static_cast<unsigned char>(byte);
        characters.push_back(value >= 0x80 && value < 0xA0 ? kWindows1252High[value - 0x80] : char32_t{value});
    }
    return characters;
}

tsl5_text tsl5Text(std::string_view name) {
    std::u32string characters = decodeSourceName(name);
    if (characters.size() > kTsl5MaxCharacters) characters.resize(kTsl5MaxCharacters);
    tsl5_text text;
    for (char32_t& c : characters) {
        if (isControl(c)) c = U'?';
        if (c >= 0x80) text.utf16 = true;
    }
    if (!text.utf16) {
        text.bytes.assign(characters.begin(), characters.end());
        return text;
    }
    text.bytes.reserve(characters.size() * 2);
    const auto appendUnit = [&text](uint32_t unit) {
        text.bytes.push_back(static_cast<char>(unit & 0xFF));
        text.bytes.push_back(static_cast<char>(unit >> 8));
    };
    for (const char32_t c : characters) {
        if (c < 0x10000) {
            appendUnit(c);
        } else {
            const uint32_t offset = c - 0x10000;
            appendUnit(0xD800 + (offset >> 10));
            appendUnit(0xDC00 + (offset & 0x3FF));
        }
    }
    return text;
}

std::string tsl31Text(std::string_view name) {
    const std::u32string characters = decodeSourceName(name);
    std::string text(kTsl31TextSize, ' ');
    for (size_t i = 0; i < characters.size() && i < kTsl31TextSize; ++i) {
        const char32_t c = characters[i];
        text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}
