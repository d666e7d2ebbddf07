#include "quon/common/decimal.h"

#include <charconv>

namespace quon {

bool parseDecimal(std::string_view text, long long low, long long high, long long& out) {
    // from_chars alone would take a leading '+' never, but blanks never
    // either; it is the digits-only rule that needs the explicit check.
    const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string_view::npos) return false;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return false;
    out = value;
    return true;
}

}  // namespace quon
