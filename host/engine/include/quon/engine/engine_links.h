// How the engine's parts reach each other. host_engine owns the parts
// (engine_components.h, engine_routers.h, engine_tally.h) and the clock;
// each part puts its link into the one engine_links as it is made and asks
// the others through theirs, so each sees of the others only what it
// needs. Callers of the engine use the parts' own headers, never these.
//
// Threading: the host's one thread, as the whole engine. Ownership: the
// links point at the parts host_engine owns, and live as long as they do.
#ifndef QUON_ENGINE_ENGINE_LINKS_H
#define QUON_ENGINE_ENGINE_LINKS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "quon/engine/delivery_queue.h"
#include "quon/engine/destination_index.h"
#include "quon/engine/tally_graph.h"
#include "quon/engine/timer_queue.h"

namespace quon {

// The host clock, as host_engine keeps it for the parts.
class clock_link {
public:
    // Before a part acts on a call or a router event the clock, and the
    // timers due on the way, catch up with the live clock it follows (if
    // any); only between calls, so that no timer reaches a component
    // inside a call into the host.
    virtual void catchUp() = 0;
    // The host clock, in milliseconds.
    virtual uint64_t time() const = 0;
    // The time a trace record is dated.
    virtual uint64_t stamp() const = 0;
    // The components' timers; their owners are component sequences.
    virtual timer_queue& timers() = 0;

protected:
    ~clock_link() = default;
};

// What the components part does for the others: delivery, in order and
// never into a component while one is inside a call into the host; who
// watches which destination.
class component_link {
public:
    // A part calling out (into a router's backend, which may push events
    // at once) brackets the call, so that what it causes is queued.
    virtual void enterCall() = 0;
    virtual void leaveCall() = 0;
    virtual bool inCall() const = 0;
    virtual void enqueue(const pending_message& message) = 0;
    // Delivers what is queued, unless within a call; then the tally tells
    // what changed meanwhile.
    virtual void drain() = 0;
    // The component of a creation sequence, by name: null when it is gone.
    virtual const std::string* nameOf(uint64_t component) const = 0;
    // The creation sequence of a component, or 0 when there is none.
    virtual uint64_t sequenceOf(const std::string& name) const = 0;
    virtual const destination_index& watchers() const = 0;
    // Whether any component watches a destination of the router.
    virtual bool watched(int router) = 0;
    // The router is in place with `destinations` (made, or made anew at a
    // reload): the watches take its size, and what components asked of it
    // while the system lacked it ("RR") they watch now.
    virtual void routerArrived(int router, int destinations) = 0;
    // The router is gone, and every watch on it.
    virtual void routerGone(int router) = 0;
    // The instances file's entries ("SD"), as read again.
    virtual void setInstances(const std::map<std::string, std::string>& instances) = 0;

protected:
    ~component_link() = default;
};

// What the routers part does for the others.
class router_link {
public:
    virtual bool has(int router) const = 0;
    // The name of an entry ("RN"), or null.
    virtual const std::string* entryName(int router, int database, int index) const = 0;
    // "RP": revertives for first..last to the component.
    virtual void poll(int router, int first, int last, uint64_t component) = 0;
    // The source routed to a destination as the router knows it; 0 when
    // unknown or it has no such router.
    virtual int routeAt(int router, int destination) const = 0;
    // Whether the router has the destination by the size it last reported
    // (any, while it reported none).
    virtual bool reports(int router, int destination) const = 0;
    // Its destinations: those of its device file, fewer when it reported
    // fewer; 0 when it has no such router.
    virtual int reportedDestinations(int router) const = 0;
    // The router numbers, in order.
    virtual std::vector<int> numbers() const = 0;

protected:
    ~router_link() = default;
};

// What the tally part does for the others.
class tally_link {
public:
    // The component's tally follows its first watched destination now.
    virtual void follow(uint64_t component) = 0;
    // The component is gone (or was never made).
    virtual void forget(uint64_t component) = 0;
    // A route the router told: the watched places whose tally it changed,
    // to be told (tell()) once the components have had the revertive.
    virtual std::vector<tally_graph::place> routed(int router, int destination, int source) = 0;
    // Tells the listeners of the components watching `changed`, once the
    // messages queued before have been delivered.
    virtual void tell(const std::vector<tally_graph::place>& changed) = 0;
    // Tells what is due; nothing within a call (the drain after it does).
    virtual void flush() = 0;
    // The router reported a new size: a destination past it carries
    // nothing, whatever was read there before, and a watched one within it
    // is learnt again.
    virtual void resized(int router, int reported) = 0;
    // The router was made anew: the graph's routes through it take what
    // the new backend knows.
    virtual void replaced(int router) = 0;

protected:
    ~tally_link() = default;
};

// Where each part finds the others; each fills in its own as it is made.
struct engine_links {
    clock_link* clock = nullptr;
    component_link* components = nullptr;
    router_link* routers = nullptr;
    tally_link* tally = nullptr;
};

}  // namespace quon

#endif
