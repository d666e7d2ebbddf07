#include "quon/engine/destination_index.h"

#include <algorithm>
#include <climits>

namespace quon {

void destination_index::watcher_list::insert(uint64_t watcher) {
    if (first_ == 0) {
        first_ = watcher;
    } else if (watcher < first_) {
        more_.insert(more_.begin(), first_);
        first_ = watcher;
    } else if (watcher != first_) {
        const auto at = std::lower_bound(more_.begin(), more_.end(), watcher);
        if (at == more_.end() || *at != watcher) more_.insert(at, watcher);
    }
}

void destination_index::watcher_list::erase(uint64_t watcher) {
    if (watcher == first_) {
        first_ = more_.empty() ? 0 : more_.front();
        if (!more_.empty()) more_.erase(more_.begin());
        return;
    }
    const auto at = std::lower_bound(more_.begin(), more_.end(), watcher);
    if (at != more_.end() && *at == watcher) more_.erase(at);
}

std::pair<size_t, size_t> destination_index::on(const std::vector<std::pair<int, int>>& watches, int device) {
    const auto first = std::lower_bound(watches.begin(), watches.end(), std::make_pair(device, INT_MIN));
    const auto last = std::lower_bound(first, watches.end(), std::make_pair(device + 1, INT_MIN));
    return {static_cast<size_t>(first - watches.begin()), static_cast<size_t>(last - watches.begin())};
}

const std::vector<std::pair<int, int>>* destination_index::watchesOf(uint64_t watcher) const {
    return watcher < byWatcher_.size() && !byWatcher_[watcher].empty() ? &byWatcher_[watcher] : nullptr;
}

bool destination_index::watches(uint64_t watcher, int device) const {
    const auto* w = watchesOf(watcher);
    if (!w) return false;
    const auto [begin, end] = on(*w, device);
    return begin != end;
}

void destination_index::setRouter(int device, int destinations) {
    router& r = routers_[device];
    r.destinations = std::max(destinations, 0);
    r.byDestination.resize(std::max(r.byDestination.size(), static_cast<size_t>(r.destinations) + 1));
}

void destination_index::removeRouter(int device) {
    const auto r = routers_.find(device);
    if (r == routers_.end()) return;
    for (uint64_t watcher : r->second.watchers) {
        if (!watchesOf(watcher)) continue;
        std::vector<std::pair<int, int>>& w = byWatcher_[watcher];
        const auto [begin, end] = on(w, device);
        w.erase(w.begin() + static_cast<std::ptrdiff_t>(begin), w.begin() + static_cast<std::ptrdiff_t>(end));
        if (w.empty()) w.shrink_to_fit();
    }
    routers_.erase(r);
}

void destination_index::watch(uint64_t watcher, int device, int first, int last, bool add) {
    const auto found = routers_.find(device);
    if (found == routers_.end()) return;
    router& r = found->second;
    if (!add) unwatch(watcher, device);
    if (byWatcher_.size() <= watcher) byWatcher_.resize(watcher + 1);
    std::vector<std::pair<int, int>>& watches = byWatcher_[watcher];
    const auto [begin, end] = on(watches, device);
    if (begin == end) {
        const auto at = std::lower_bound(r.watchers.begin(), r.watchers.end(), watcher);
        if (at == r.watchers.end() || *at != watcher) r.watchers.insert(at, watcher);
    }
    // The destinations of first..last it does not watch yet, in order.
    std::vector<std::pair<int, int>> added;
    const int from = std::max(first, 1), to = std::min(last, r.destinations);
    size_t known = begin;
    for (int destination = from; destination <= to; ++destination) {
        while (known < end && watches[known].second < destination) ++known;
        if (known < end && watches[known].second == destination) continue;
        added.emplace_back(device, destination);
        r.byDestination[static_cast<size_t>(destination)].insert(watcher);
    }
    if (added.empty()) return;
    const auto middle =
        watches.insert(watches.begin() + static_cast<std::ptrdiff_t>(end), added.begin(), added.end());
    std::inplace_merge(watches.begin() + static_cast<std::ptrdiff_t>(begin), middle,
                       middle + static_cast<std::ptrdiff_t>(added.size()));
}

void destination_index::unwatch(uint64_t watcher, int device) {
    if (!watchesOf(watcher)) return;
    std::vector<std::pair<int, int>>& watches = byWatcher_[watcher];
    const auto [begin, end] = on(watches, device);
    if (begin == end) return;
    const auto r = routers_.find(device);
    if (r != routers_.end())
        for (size_t i = begin; i < end; ++i)
            r->second.byDestination[static_cast<size_t>(watches[i].second)].erase(watcher);
    watches.erase(watches.begin() + static_cast<std::ptrdiff_t>(begin),
                  watches.begin() + static_cast<std::ptrdiff_t>(end));
    if (watches.empty()) watches.shrink_to_fit();
    if (r != routers_.end() && ++r->second.stale > r->second.watchers.size() / 2) compact(device, r->second);
}

void destination_index::unwatchAll(uint64_t watcher) {
    while (const auto* w = watchesOf(watcher)) unwatch(watcher, w->front().first);
}

bool destination_index::watched(int device) {
    const auto r = routers_.find(device);
    if (r == routers_.end()) return false;
    compact(device, r->second);
    return !r->second.watchers.empty();
}

std::optional<int> destination_index::firstRouter(uint64_t watcher) const {
    const auto* w = watchesOf(watcher);
    if (!w) return std::nullopt;
    return w->front().first;
}

std::optional<std::pair<int, int>> destination_index::firstWatch(uint64_t watcher) const {
    const auto* w = watchesOf(watcher);
    if (!w) return std::nullopt;
    return w->front();
}

void destination_index::compact(int device, router& r) {
    r.watchers.erase(std::remove_if(r.watchers.begin(), r.watchers.end(),
                                    [this, device](uint64_t watcher) { return !watches(watcher, device); }),
                     r.watchers.end());
    r.stale = 0;
}

}  // namespace quon
