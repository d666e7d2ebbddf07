#include "quon/common/duration.h"

#include "quon/common/decimal.h"

namespace quon {

bool parseDuration(std::string_view text, std::chrono::milliseconds& out) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    long long count = 0;
    if (digits == 0 || !parseDecimal(text.substr(0, digits), 0, 1000000000, count)) return false;
    const std::string_view unit = text.substr(digits);
    if (unit == "ms") {
        out = std::chrono::milliseconds(count);
    } else if (unit == "s") {
        out = std::chrono::seconds(count);
    } else if (unit == "m") {
        out = std::chrono::minutes(count);
    } else {
        return false;
    }
    return true;
}

}  // namespace quon
