// A listener of the engine: the trace printers, the shell's and serve's
// display lines, the scenario runner's expectations, the network outputs.
// Every handler has a default that does nothing, so a listener overrides
// only the families it cares about.
//
// Threading: handlers are called on the host's one thread, from inside
// engine calls. A handler must not call back into the engine except for
// its const inspection functions.
#ifndef QUON_ENGINE_HOST_LISTENER_H
#define QUON_ENGINE_HOST_LISTENER_H

#include <string>

#include "quon/engine/host_events.h"
#include "quon/engine/panel_state.h"
#include "quon/engine/tally_graph.h"
#include "quon/tally/tally_types.h"

namespace quon {

class host_listener {
public:
    virtual ~host_listener() = default;

    // Building trace records costs time: the engine builds them only while
    // some listener answers true here (asked when the listener is added).
    virtual bool wantsTrace() const { return false; }
    virtual void traced(const trace_event&) {}

    // Components.
    virtual void componentCreated(const std::string& /*name*/) {}
    virtual void componentDestroyed(const std::string& /*name*/) {}
    // A command a component sent, before the host acts on it.
    virtual void commandSent(const std::string& /*component*/, const std::string& /*text*/) {}
    virtual void propertyChanged(const property_change&) {}
    // "PS" showed a panel (anew): its properties are the layout's until a
    // "TP" sets them.
    virtual void panelShown(const std::string& /*component*/, const panel_state& /*panel*/) {}
    virtual void parentNotified(const std::string& /*component*/, const std::string& /*text*/) {}
    virtual void timerFired(const std::string& /*component*/, int /*id*/) {}
    // The component watches destinations first..last of a router ("RR"):
    // in place of what it watched there, or as well (`added`). Also told of
    // an "RR" on a router the system does not have
    // (engine_components::watchPlace says so), and again when a reload adds
    // that router.
    virtual void watched(const std::string& /*component*/, int /*device*/, int /*first*/, int /*last*/,
                         bool /*added*/) {}

    // A router told the component a route for the first time: what it
    // shows from now on is the router's, not its own start.
    virtual void answered(const std::string& /*component*/) {}

    // The tally of the picture the component's first watched destination
    // shows changed (engine_tally::setLits); `why` holds the way from the
    // lit input to it while it is lit, null while off. After a route
    // change it is told once the component has had the revertive, so what
    // it shows and its tally change together.
    virtual void tallyChanged(const std::string& /*component*/, tally::status /*now*/,
                              const tally_graph::reason* /*why*/) {}

    // Routers.
    virtual void routerChanged(const router_change&) {}
    // The router's device file is gone (at a reload); so is the router.
    virtual void routerRemoved(int /*device*/) {}

    // Breaches of the host contract, and the host's warnings.
    virtual void violation(const std::string& /*component*/, const contract_violation&) {}
    virtual void warning(const std::string& /*component*/, const std::string& /*text*/) {}
};

}  // namespace quon

#endif
