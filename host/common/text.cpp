#include "quon/common/text.h"

#include <algorithm>
#include <cstdio>

namespace quon {

namespace {

std::string escapedText(std::string_view text, bool quotes) {
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
        } else if (c < 0x20 || c == 0x7f) {
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

bool isUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        unsigned int code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
            code = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            code = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10ffff)) ||
            (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

}  // namespace quon
