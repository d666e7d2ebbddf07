// Strict decimal numbers in the host's own files, command texts and
// options: an optional '-', then digits and nothing else.
#ifndef QUON_COMMON_DECIMAL_H
#define QUON_COMMON_DECIMAL_H

#include <climits>
#include <string_view>

namespace quon {

// False unless `text` is such a number within low..high.
bool parseDecimal(std::string_view text, long long low, long long high, long long& out);

// The same for a 32-bit integer.
inline bool parseInt32(std::string_view text, int& out) {
    long long value = 0;
    if (!parseDecimal(text, INT_MIN, INT_MAX, value)) return false;
    out = static_cast<int>(value);
    return true;
}

}  // namespace quon

#endif
