// repeat_limit: the same warning about the same thing is said at most once
// a minute; the repeats in between are counted and the next line that is
// said tells how many there were. A display whose router is gone warns at
// each poll, thousands of lines a day, and one line a minute says as much.
//
// Threading: one thread; the caller gives the time, so tests need no clock.
#ifndef QUON_OUTPUT_REPEAT_LIMIT_H
#define QUON_OUTPUT_REPEAT_LIMIT_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace quon {

class repeat_limit {
public:
    explicit repeat_limit(std::chrono::steady_clock::duration interval = std::chrono::minutes(1))
        : interval_(interval) {}

    // The line to say for this warning of `subject` at `now`, or nothing
    // when the same was said less than the interval ago. A line after
    // repeats ends "(repeated N times since)".
    std::optional<std::string> admit(const std::string& subject, const std::string& text,
                                     std::chrono::steady_clock::time_point now);
    // How many warnings it remembers: those said within the interval, and
    // those with repeats not yet told.
    std::size_t remembered() const { return seen_.size(); }

private:
    struct seen {
        std::chrono::steady_clock::time_point said;
        std::uint64_t repeats = 0;
    };
    std::chrono::steady_clock::duration interval_;
    std::map<std::pair<std::string, std::string>, seen> seen_;
    std::size_t pruneAt_ = 1024;  // forgets what it no longer needs when it holds this many
};

}  // namespace quon

#endif
