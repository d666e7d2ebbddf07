// The simulated router: the crosspoints, names and answering of a device
// file, changed by the operator's actions. Revertives of a route reach the
// engine at once (the engine queues them), unless the router is set not
// to answer; then it takes routes silently and ignores polls.
#ifndef QUON_ROUTERS_SIMULATED_ROUTER_H
#define QUON_ROUTERS_SIMULATED_ROUTER_H

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

private:
    router_description description_;
    router_events& events_;
    int destinations_;
};

}  // namespace quon

#endif
