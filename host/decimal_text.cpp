#include "decimal_text.h"

bool parseDecimal(const std::string& text, long long low, long long high, long long& out) {
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    // 18 digits always fit in a long long.
    if (first == text.size() || text.size() - first > 18) return false;
    long long value = 0;
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (first) value = -value;
    if (value < low || value > high) return false;
    out = value;
    return true;
}
