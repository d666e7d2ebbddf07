#include "quon/links/label_text.h"

#include "quon/common/text.h"

namespace quon::links {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

}  // namespace

cleaned_label cleanLabel(std::string_view raw) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
    cleaned_label cleaned{std::string(), false};
    cleaned.text.reserve(raw.size());
    std::size_t at = 0;
    while (at < raw.size()) {
        const unsigned char c = static_cast<unsigned char>(raw[at]);
        if (c < 0x80) {
            const bool control = c < 0x20 || c == 0x7F;
            cleaned.text.push_back(control ? '?' : static_cast<char>(c));
            cleaned.repaired |= control;
            ++at;
            continue;
        }
        const std::size_t length = utf8SequenceLength(raw, at);
        if (length == 0) {
            cleaned.text.push_back('?');
            cleaned.repaired = true;
            ++at;
            continue;
        }
        cleaned.text.append(raw.substr(at, length));
        at += length;
    }
    return cleaned;
}

std::string repairedLabelText(const std::string& what, std::string_view raw, const cleaned_label& cleaned) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);  // the padding
    std::string shown;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            shown += escaped(std::string_view(&c, 1));
        } else {
            // Bytes above ASCII are shown as they are only within the
            // cleaned text; here every one is spelt out.
            static const char digits[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        }
    }
    return what + " \"" + shown + "\" has control characters or bytes that are not UTF-8; shown as \"" +
           escaped(cleaned.text) + "\"";
}

}  // namespace quon::links
