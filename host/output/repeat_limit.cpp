#include "quon/output/repeat_limit.h"

#include <algorithm>
#include <iterator>

namespace quon {

std::optional<std::string> repeat_limit::admit(const std::string& subject, const std::string& text,
                                               std::chrono::steady_clock::time_point now) {
    // Warnings whose texts vary (numbers, addresses) would otherwise be
    // remembered for ever by a host that runs for months.
    if (seen_.size() >= pruneAt_) {
        for (auto it = seen_.begin(); it != seen_.end();)
            it = it->second.repeats == 0 && now - it->second.said >= interval_ ? seen_.erase(it) : std::next(it);
        pruneAt_ = std::max<std::size_t>(1024, seen_.size() * 2);
    }
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
