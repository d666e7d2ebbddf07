// destination_index: which components watch which destinations of which
// routers, so that a revertive reaches the watchers of its destination and
// a name change the watchers of its router.
//
// A watcher is a component's creation sequence (from 1): ordered by it,
// older components hear first, and a run is the same every time. A
// component watches through "RR" (replacing what it watched on that router,
// or adding to it) and stops through "RU" or by going away.
//
// Threading: the host's one thread. Owned by the engine.
#ifndef QUON_ENGINE_DESTINATION_INDEX_H
#define QUON_ENGINE_DESTINATION_INDEX_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace quon {

class destination_index {
public:
    // Router `device` takes watchers on destinations 1..destinations. Set
    // again (a router made anew at a reload), it keeps its watchers, those
    // beyond a smaller size included; new watches are cut to the new size.
    void setRouter(int device, int destinations);
    // Forgets the router and every watch on it.
    void removeRouter(int device);

    // "RR": `watcher` watches first..last of `device`, cut to its
    // destinations, in place of what it watched there or, with `add`, as
    // well. Nothing for a router the index does not hold.
    void watch(uint64_t watcher, int device, int first, int last, bool add);
    // "RU": it watches nothing on `device` any more.
    void unwatch(uint64_t watcher, int device);
    // The component is gone: it watches nothing anywhere.
    void unwatchAll(uint64_t watcher);

    // Whether any component watches any destination of `device`.
    bool watched(int device);
    // The router of the first destination `watcher` watches, by device
    // number; nothing when it watches none.
    std::optional<int> firstRouter(uint64_t watcher) const;
    // The first destination `watcher` watches (device, destination): the
    // one whose picture its tally follows.
    std::optional<std::pair<int, int>> firstWatch(uint64_t watcher) const;

    // Calls f(watcher) for each watcher of one destination, in creation order.
    template <typename visit>
    void forEachWatcher(int device, int destination, const visit& f) const;
    // Calls f(watcher) once for each watcher of any destination of
    // `device`, in creation order.
    template <typename visit>
    void forEachWatcherOf(int device, const visit& f) const;
    // Calls f(destination) for each destination of `device` someone
    // watches, in order.
    template <typename visit>
    void forEachWatchedDestination(int device, const visit& f) const;

private:
    // The watchers of one destination, in creation order. One is the rule
    // (a wall), so the first takes no block of its own.
    class watcher_list {
    public:
        bool empty() const { return first_ == 0; }
        void insert(uint64_t watcher);
        void erase(uint64_t watcher);
        template <typename visit>
        void forEach(const visit& f) const {
            if (first_ == 0) return;
            f(first_);
            for (uint64_t w : more_) f(w);
        }

    private:
        uint64_t first_ = 0;  // 0: none (sequences start at 1)
        std::vector<uint64_t> more_;
    };

    struct router {
        int destinations = 0;  // new watches are cut to these
        // byDestination[destination]; may be longer than destinations + 1
        // after a reload made the router smaller.
        std::vector<watcher_list> byDestination;
        // The components watching any of its destinations, in creation
        // order. One that stops stays until `stale` says enough are gone
        // (removing it at once would move the whole vector for each display
        // of a wall torn down); visits skip it.
        std::vector<uint64_t> watchers;
        size_t stale = 0;
    };

    // [first, last) of `watches` on `device`.
    static std::pair<size_t, size_t> on(const std::vector<std::pair<int, int>>& watches, int device);
    bool watches(uint64_t watcher, int device) const;
    // Drops from r.watchers those that watch nothing there any more.
    void compact(int device, router& r);

    // The watcher's (device, destination) pairs, or null when it watches
    // nothing.
    const std::vector<std::pair<int, int>>* watchesOf(uint64_t watcher) const;

    std::map<int, router> routers_;
    // Each watcher's (device, destination) pairs, sorted, by watcher:
    // sequences run from 1 without gaps, so a vector indexed by them holds
    // a wall's in one block (an empty one for a watcher of nothing).
    std::vector<std::vector<std::pair<int, int>>> byWatcher_;
};

template <typename visit>
void destination_index::forEachWatcher(int device, int destination, const visit& f) const {
    const auto r = routers_.find(device);
    if (r == routers_.end() || destination < 1 || static_cast<size_t>(destination) >= r->second.byDestination.size())
        return;
    r->second.byDestination[static_cast<size_t>(destination)].forEach(f);
}

template <typename visit>
void destination_index::forEachWatcherOf(int device, const visit& f) const {
    const auto r = routers_.find(device);
    if (r == routers_.end()) return;
    for (uint64_t watcher : r->second.watchers)
        if (watches(watcher, device)) f(watcher);
}

template <typename visit>
void destination_index::forEachWatchedDestination(int device, const visit& f) const {
    const auto r = routers_.find(device);
    if (r == routers_.end()) return;
    for (size_t destination = 1; destination < r->second.byDestination.size(); ++destination)
        if (!r->second.byDestination[destination].empty()) f(static_cast<int>(destination));
}

}  // namespace quon

#endif
