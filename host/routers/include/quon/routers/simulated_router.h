// The simulated router: the crosspoints, names and answering of a device
// file, changed by the operator's actions. Revertives of a route reach the
// engine at once (the engine queues them), unless the router is set not
// to answer; then it takes routes silently and ignores polls.
#ifndef QUON_ROUTERS_SIMULATED_ROUTER_H
#define QUON_ROUTERS_SIMULATED_ROUTER_H

#include <map>
#include <string>
#include <unordered_map>

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

    int device_;
    bool answers_;
    router_events& events_;
    int destinations_;
    // Hashed, so that a lookup costs the same on a router of any size.
    std::unordered_map<uint64_t, std::string> names_;  // by key(database, index)
    std::unordered_map<int, int> routes_;              // destination -> source
    // The device file's names, to tell at a reload which entries it renamed.
    std::map<int, std::map<int, std::string>> fileNames_;
};

}  // namespace quon

#endif
