// The simulated router: the crosspoints, names and answering of a device
// file, changed by the operator's actions. Revertives of a route reach the
// engine at once (the engine queues them), unless the router is set not
// to answer; then it takes routes silently and ignores polls.
#ifndef QUON_ROUTERS_SIMULATED_ROUTER_H
#define QUON_ROUTERS_SIMULATED_ROUTER_H

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "quon/engine/router_backend.h"

namespace quon {

class simulated_router : public router_backend {
public:
    // `events` outlives the router.
    simulated_router(const router_description& description, router_events& events);

    router_status status() const override;
    int destinations() const override { return destinations_; }
    void poll(int first, int last, uint64_t requester) override;
    const std::string* name(int database, int index) const override;
    int crosspoint(int destination) const override;
    bool route(int destination, int source, std::string& error) override;
    bool rename(int database, int index, const std::string& text, std::string& error) override;
    bool setAnswers(bool answers, std::string& error) override;
    bool reloadNames(const std::map<int, std::map<int, std::string>>& names) override;

private:
    static uint64_t key(int database, int index) {
        return static_cast<uint64_t>(static_cast<uint32_t>(database)) << 32 | static_cast<uint32_t>(index);
    }

    // The names of one database as the device file gives them. Most files
    // name every index of a database once: those indices are kept in
    // place, by index (a wall's router holds one a display); any other
    // index in a hash map.
    class file_names {
    public:
        // `size`: the database's size in the file; `names`: its entries.
        file_names(int size, const std::map<int, std::string>& names);
        const std::string* find(int index) const;
        size_t count() const { return count_; }
        template <typename visit>
        void forEach(const visit& f) const {
            for (size_t i = 0; i < inPlace_.size(); ++i)
                if (named_[i]) f(static_cast<int>(i + 1), inPlace_[i]);
            for (const auto& [index, name] : beyond_) f(index, name);
        }

    private:
        std::vector<std::string> inPlace_;  // index 1 first
        std::vector<bool> named_;           // whether the file names inPlace_[i]
        std::unordered_map<int, std::string> beyond_;
        size_t count_ = 0;
    };

    // The device file's name of an entry, or null.
    const std::string* fileName(int database, int index) const;
    // The file's names in place of those held, with the sizes of `sizes`.
    void takeFileNames(const std::map<int, std::map<int, std::string>>& names);

    int device_;
    bool answers_;
    router_events& events_;
    int destinations_;
    std::map<int, int> sizes_;             // database -> size, from the file
    std::map<int, file_names> fileNames_;  // by database
    // Names that differ from the file's, by key(database, index): the
    // operator's renames, and names a reloaded file no longer gives (an
    // entry keeps its name until something renames it).
    std::unordered_map<uint64_t, std::string> renamed_;
    // Routes by destination: 1..destinations_ in place (0: none known),
    // others hashed.
    std::vector<int> routes_;
    std::unordered_map<int, int> routesBeyond_;
};

}  // namespace quon

#endif
