#include "quon/output/repeat_limit.h"

namespace quon {

std::optional<std::string> repeat_limit::admit(const std::string& subject, const std::string& text,
                                               std::chrono::steady_clock::time_point now) {
    const auto [entry, first] = seen_.try_emplace({subject, text});
    seen& s = entry->second;
    if (!first && now - s.said < interval_) {
        ++s.repeats;
        return std::nullopt;
    }
    std::string line = text;
    if (s.repeats > 0) line += " (repeated " + std::to_string(s.repeats) + " times since)";
    s.said = now;
    s.repeats = 0;
    return line;
}

}  // namespace quon
