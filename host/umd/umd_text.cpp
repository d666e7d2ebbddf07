#include "quon/umd/umd_text.h"

#include "quon/common/text.h"

namespace quon {

namespace {

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::u32string decodeSourceName(std::string_view name) { return systemCharacters(name); }

tsl5_text tsl5Text(std::string_view name) {
    std::u32string characters = decodeSourceName(name);
    if (characters.size() > tsl5_max_characters) characters.resize(tsl5_max_characters);
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
    std::string text(tsl31_text_size, ' ');
    for (size_t i = 0; i < characters.size() && i < tsl31_text_size; ++i) {
        const char32_t c = characters[i];
        text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

}  // namespace quon
