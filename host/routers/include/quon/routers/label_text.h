// label_text: what a label from a router may hold. Routers send bytes; the
// host shows text, read by its one text policy (quon/common/text.h: UTF-8
// when valid, else Windows-1252). Control characters are each replaced by
// '?', and trailing blanks and NULs (fixed-width padding) go.
// Pure; no state.
#ifndef QUON_ROUTERS_LABEL_TEXT_H
#define QUON_ROUTERS_LABEL_TEXT_H

#include <string>
#include <string_view>

namespace quon::routers {

struct cleaned_label {
    std::string text;
    bool repaired;  // a control character was replaced, or the label was not UTF-8
};

cleaned_label cleanLabel(std::string_view raw);

// The problem report of a repaired label: `what` names the entry ("input
// 3's label"); the raw bytes are shown escaped, and what is shown instead.
std::string repairedLabelText(const std::string& what, std::string_view raw, const cleaned_label& cleaned);

}  // namespace quon::routers

#endif
