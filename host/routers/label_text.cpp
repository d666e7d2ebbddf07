#include "quon/routers/label_text.h"

#include "quon/common/text.h"

namespace quon::routers {

cleaned_label cleanLabel(std::string_view raw) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
    // Printable ASCII, nearly every label there is, is its own text.
    bool printable = true;
    for (const char c : raw) printable &= c >= 0x20 && c < 0x7F;
    if (printable) return {std::string(raw), false};
    cleaned_label cleaned{std::string(), !isUtf8(raw)};
    cleaned.text.reserve(raw.size());
    for (char32_t c : systemCharacters(raw)) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            c = U'?';
            cleaned.repaired = true;
        }
        appendUtf8(cleaned.text, c);
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

}  // namespace quon::routers
