#include "quon/tcp/retry_backoff.h"

#include <algorithm>

namespace quon::tcp {

retry_backoff::retry_backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap, std::uint32_t seed)
    : first_(std::max(first, std::chrono::milliseconds(1))), cap_(std::max(cap, first_)), random_(seed) {}

std::chrono::milliseconds retry_backoff::next() {
    long long ceiling = first_.count();
    for (int i = 0; i < failures_ && ceiling < cap_.count(); ++i) ceiling *= 2;
    ceiling = std::min<long long>(ceiling, cap_.count());
    if (failures_ < 64) ++failures_;
    const long long floor = ceiling / 2;
    std::uniform_int_distribution<long long> draw(floor + 1, ceiling);
    return std::chrono::milliseconds(draw(random_));
}

}  // namespace quon::tcp
