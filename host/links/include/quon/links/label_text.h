// label_text: what a label from a router may hold. Routers send bytes; the
// host shows text. Control characters and bytes that are not UTF-8 are each
// replaced by '?', and trailing blanks and NULs (fixed-width padding) go.
// Pure; no state.
#ifndef QUON_LINKS_LABEL_TEXT_H
#define QUON_LINKS_LABEL_TEXT_H

#include <string>
#include <string_view>

namespace quon::links {

struct cleaned_label {
    std::string text;
    bool repaired;  // a control character or a byte that is not UTF-8 was replaced
};

cleaned_label cleanLabel(std::string_view raw);

// The problem report of a repaired label: `what` names the entry ("input
// 3's label"); the raw bytes are shown escaped, and what is shown instead.
std::string repairedLabelText(const std::string& what, std::string_view raw, const cleaned_label& cleaned);

}  // namespace quon::links

#endif
