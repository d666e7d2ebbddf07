// numbered: what a link keeps a port number (a label, a route), by number.
// Numbers 1 to 65,536 (every protocol here numbers a router's ports within
// them) are kept in an array by number, grown as the router's ports come:
// a large wall's start holds a hundred thousand of them, and a map's node
// each was a cache miss and an allocation each. Any other number is kept in
// a map. An element's address holds until the next operator[] of a number
// not yet kept. One owner, on its thread.
#ifndef QUON_ROUTERS_NUMBERED_H
#define QUON_ROUTERS_NUMBERED_H

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <vector>

namespace quon::routers {

template <class T>
class numbered {
public:
    // What is kept for `number`, or null.
    const T* find(int number) const {
        if (number >= 1 && number <= dense_limit) {
            const std::size_t at = static_cast<std::size_t>(number - 1);
            return at < dense_.size() && dense_[at] ? &*dense_[at] : nullptr;
        }
        const auto found = sparse_.find(number);
        return found == sparse_.end() ? nullptr : &found->second;
    }
    // What is kept for `number`, made (T()) when nothing was.
    T& operator[](int number) {
        if (number < 1 || number > dense_limit) return sparse_[number];
        const std::size_t at = static_cast<std::size_t>(number - 1);
        if (at >= dense_.size()) dense_.resize(at + 1);
        if (!dense_[at]) dense_[at].emplace();
        return *dense_[at];
    }

    void erase(int number) {
        if (number < 1 || number > dense_limit) {
            sparse_.erase(number);
        } else if (const std::size_t at = static_cast<std::size_t>(number - 1); at < dense_.size()) {
            dense_[at].reset();
        }
    }

private:
    static constexpr int dense_limit = 65536;
    std::vector<std::optional<T>> dense_;  // [number - 1]
    std::unordered_map<int, T> sparse_;
};

}  // namespace quon::routers

#endif
