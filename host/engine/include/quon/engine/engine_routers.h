// engine_routers: the engine's routers and what they push. It makes a
// backend for each router of the system (router_backend.h), starts and
// stops their connections, carries out a reload, takes the operator's
// actions on them (route, salvo, rename, answering) and hands what they
// push (revertives, name changes, status) to the components that watch
// and to the tally. Part of host_engine, which owns it
// (host_engine::routers()); it reaches the components, the tally and the
// clock through engine_links.h.
//
// Threading: the host's one thread; the backends push their events on it.
// Ownership: it owns the backends.
#ifndef QUON_ENGINE_ENGINE_ROUTERS_H
#define QUON_ENGINE_ENGINE_ROUTERS_H

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quon/engine/engine_links.h"
#include "quon/engine/engine_listeners.h"
#include "quon/engine/router_backend.h"
#include "quon/engine/system_files.h"

namespace quon {

class engine_routers final : private router_events, private router_link {
public:
    // Creates a backend for each router of `system` through `registry`
    // (used only here); a router whose backend cannot be made is left out
    // with a warning (see warnings()). The components part must be in
    // `links` already: the watches take each router's size. It puts its
    // link into `links`; both `links` and `listeners` outlive it.
    engine_routers(const system_description& system, const router_registry& registry, engine_links& links,
                   const engine_listeners& listeners);

    engine_routers(const engine_routers&) = delete;
    engine_routers& operator=(const engine_routers&) = delete;

    // Starts the routers' connections (live backends); call once the
    // listeners are in place.
    void start();
    void stop();

    // The system as read again (at a reload), as reload_plan.h decides: a
    // router whose device file changed in its [Router] settings or sizes is
    // made anew and, when the routers run, connects again alone; a router
    // whose file changed in its entry names alone is offered them (a
    // simulated router renames those entries, and its watchers hear of it);
    // new routers are added; a router whose file is gone is removed, unless
    // a component watches it (then it stays, with a warning). Components
    // keep what they watch; unchanged routers are not touched. The
    // instances are replaced.
    struct system_changes {
        std::vector<int> added, changed, renamed, removed;  // router numbers
    };
    system_changes applySystem(const system_description& system, const router_registry& registry);

    // The operator's actions on routers; false with the reason in `error`.
    bool route(int router, int destination, int source, std::string& error);
    // Takes every route of `routes` (destination, source) at once; the
    // revertives are delivered after all of them are taken.
    bool salvo(int router, const std::vector<std::pair<int, int>>& routes, std::string& error);
    bool rename(int router, int database, int index, const std::string& text, std::string& error);
    bool setAnswers(int router, bool answers, std::string& error);

    // What they are and know.
    std::optional<int> crosspoint(int router, int destination) const;
    // The router numbers, in order.
    std::vector<int> numbers() const override;
    // Bytes a router sent wait unread (router_backend::unread).
    bool unread() const;
    std::optional<router_status> status(int router) const;
    // The device file's description of a router, or null; it owns it, and
    // it holds until a reload makes that router anew or removes it.
    const router_description* description(int router) const;
    // Device files whose router could not be set up, and keys of theirs
    // not read.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Device files whose router would not be what they mean
    // (router_registry::keyErrors): serve does not start on them, nor
    // reload, and `check` fails.
    const std::vector<std::string>& errors() const { return errors_; }
    // Why the router could not be set up (its warning), or null when it
    // was or has no device file; it owns the text, which holds until the
    // next reload.
    const std::string* leftOut(int router) const;

private:
    struct router_slot {
        router_description description;  // without the names and routes, which the backend holds
        std::unique_ptr<router_backend> backend;
        int reported = 0;  // the destinations its status last reported; 0: unknown
    };

    // router_events
    void revertive(int device, int destination, int source, uint64_t requester) override;
    void nameChanged(int device, int database, int index) override;
    void statusChanged(int device) override;
    void routerWarning(int device, const std::string& text) override;

    // router_link
    bool has(int router) const override { return find(router) != nullptr; }
    const std::string* entryName(int router, int database, int index) const override;
    void poll(int router, int first, int last, uint64_t component) override;
    int routeAt(int router, int destination) const override;
    bool reports(int router, int destination) const override;
    int reportedDestinations(int router) const override;

    router_slot* find(int router) const;
    // The router, or null with "no router N" in `error`.
    router_slot* find(int router, std::string& error) const;
    // A router slot for `d`, or null with a warning when no backend can be made.
    std::unique_ptr<router_slot> make(const router_description& d, const router_registry& registry);
    // Puts `next` in the place of its router (if any), keeping its
    // watchers and telling them what the new backend knows.
    void replace(std::unique_ptr<router_slot> next);

    engine_links& links_;
    const engine_listeners& listeners_;
    std::map<int, std::unique_ptr<router_slot>> routers_;
    bool started_ = false;
    std::vector<std::string> warnings_;
    std::vector<std::string> errors_;
    std::map<int, std::string> leftOut_;  // by router: the warning it was left out with
};

}  // namespace quon

#endif
