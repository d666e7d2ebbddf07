#include "quon/routers/protocol_descriptor.h"

#include "quon/common/decimal.h"

namespace quon::routers {

bool readWholeNumber(const std::string& value, long long low, long long high, long long& out, std::string& why) {
    if (parseDecimal(value, low, high, out)) return true;
    why = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
}

bool readMilliseconds(const std::string& value, std::chrono::milliseconds& out, std::string& why) {
    long long ms = 0;
    if (!readWholeNumber(value, 1, 3600000, ms, why)) return false;
    out = std::chrono::milliseconds(ms);
    return true;
}

}  // namespace quon::routers
