// Strict decimal numbers in the host's own files and command texts: an
// optional '-', then digits and nothing else.
#ifndef QUON_HOST_DECIMAL_TEXT_H
#define QUON_HOST_DECIMAL_TEXT_H

#include <climits>
#include <string>

// False unless `text` is such a number within low..high.
bool parseDecimal(const std::string& text, long long low, long long high, long long& out);

// The same for a 32-bit integer.
inline bool parseInt32(const std::string& text, int& out) {
    long long value = 0;
    if (!parseDecimal(text, INT_MIN, INT_MAX, value)) return false;
    out = static_cast<int>(value);
    return true;
}

#endif
