// The routers: their backends, what they push (router_events), the reload,
// and the operator's actions.
#include "quon/engine/engine_routers.h"

#include <algorithm>

#include "quon/common/text.h"
#include "quon/engine/reload_plan.h"

namespace quon {

engine_routers::engine_routers(const system_description& system, const router_registry& registry, engine_links& links,
                               const engine_listeners& listeners)
    : links_(links), listeners_(listeners) {
    links_.routers = this;
    for (const router_description& d : system.routers)
        if (auto r = make(d, registry)) {
            links_.components->routerArrived(d.device, r->backend->destinations());
            routers_[d.device] = std::move(r);
        }
}

std::unique_ptr<engine_routers::router_slot> engine_routers::make(const router_description& d,
                                                                  const router_registry& registry) {
    auto r = std::make_unique<router_slot>();
    std::string error;
    registry.checkKeys(d, warnings_);
    for (std::string& e : registry.keyErrors(d)) errors_.push_back(std::move(e));
    r->backend = registry.create(d, *this, error);
    if (!r->backend) {
        warnings_.push_back(error + "; router " + std::to_string(d.device) + " left out");
        leftOut_[d.device] = warnings_.back();
        return nullptr;
    }
    leftOut_.erase(d.device);
    r->description = d;
    r->description.entryNames.clear();
    r->description.crosspoints.clear();
    return r;
}

const std::string* engine_routers::leftOut(int router) const {
    const auto found = leftOut_.find(router);
    return found == leftOut_.end() ? nullptr : &found->second;
}

engine_routers::router_slot* engine_routers::find(int router) const {
    const auto r = routers_.find(router);
    return r == routers_.end() ? nullptr : r->second.get();
}

engine_routers::router_slot* engine_routers::find(int router, std::string& error) const {
    router_slot* r = find(router);
    if (!r) error = "no router " + std::to_string(router);
    return r;
}

void engine_routers::start() {
    started_ = true;
    for (auto& r : routers_) r.second->backend->start();
}

void engine_routers::stop() {
    started_ = false;
    for (auto& r : routers_) r.second->backend->stop();
}

// ---- the reload -----------------------------------------------------------

engine_routers::system_changes engine_routers::applySystem(const system_description& system,
                                                           const router_registry& registry) {
    links_.clock->catchUp();
    component_link& components = *links_.components;
    system_changes changes;
    components.setInstances(system.instances);
    std::map<int, const router_description*> running;
    for (const auto& [router, r] : routers_) running[router] = &r->description;
    for (const reload_step& step : planReload(running, system)) {
        switch (step.what) {
            case reload_step::action::names: {
                components.enterCall();
                const bool renamed = find(step.device)->backend->reloadNames(step.description->entryNames);
                components.leaveCall();
                if (renamed) changes.renamed.push_back(step.device);
                components.drain();
                break;
            }
            case reload_step::action::replace:
            case reload_step::action::add: {
                std::unique_ptr<router_slot> next = make(*step.description, registry);
                if (!next) break;  // the warning says why; the old one, if any, runs on
                (step.what == reload_step::action::add ? changes.added : changes.changed).push_back(step.device);
                replace(std::move(next));
                break;
            }
            case reload_step::action::gone:
                if (components.watched(step.device)) {
                    listeners_.warn("", "router " + std::to_string(step.device) +
                                            ": its device file is gone, but displays watch it; it stays until serve "
                                            "restarts");
                    break;
                }
                routers_.at(step.device)->backend->stop();
                routers_.erase(step.device);
                components.routerGone(step.device);
                changes.removed.push_back(step.device);
                for (host_listener* l : listeners_) l->routerRemoved(step.device);
                break;
        }
    }
    return changes;
}

void engine_routers::replace(std::unique_ptr<router_slot> next) {
    const int router = next->description.device;
    if (router_slot* old = find(router)) old->backend->stop();
    router_slot& r = *next;
    routers_[router] = std::move(next);
    links_.components->routerArrived(router, r.backend->destinations());
    if (started_) r.backend->start();
    statusChanged(router);
    // The tally's routes of this router (tie lines, mixer inputs) take what
    // the new backend knows; those it does not know yet stay as they were
    // until it says, as the displays' names do.
    links_.tally->replaced(router);
    // What the new backend knows now (a simulated router: the routes of its
    // file) is news to the components watching it.
    links_.components->watchers().forEachWatchedDestination(router, [this, &r, router](int destination) {
        const int source = r.backend->crosspoint(destination);
        if (source > 0) revertive(router, destination, source, 0);
    });
}

// ---- what routers push ----------------------------------------------------
// The watches hold the routers routers_ holds (told where one is made or
// goes), so a router they do not know has no watchers.

void engine_routers::revertive(int device, int destination, int source, uint64_t requester) {
    links_.clock->catchUp();
    component_link& components = *links_.components;
    // The graph hears of the route first, so that what the component shows
    // on hearing of it goes out with the new tally; the listeners hear of
    // the tally once the components have had the revertive.
    const std::vector<tally_graph::place> lit = links_.tally->routed(device, destination, source);
    const revertiveRecord record{device, 0, destination, source};
    if (requester) {
        if (components.nameOf(requester)) components.enqueue(pending_message::revertiveTo(requester, record));
    } else {
        components.watchers().forEachWatcher(device, destination, [&components, &record](uint64_t watcher) {
            components.enqueue(pending_message::revertiveTo(watcher, record));
        });
    }
    components.drain();
    if (!lit.empty()) links_.tally->tell(lit);
}

void engine_routers::nameChanged(int device, int database, int index) {
    links_.clock->catchUp();
    component_link& components = *links_.components;
    components.watchers().forEachWatcherOf(device, [&components, device, database, index](uint64_t watcher) {
        components.enqueue(pending_message::databaseTo(watcher, databaseRecord{device, database, index}));
    });
    components.drain();
}

void engine_routers::statusChanged(int device) {
    links_.clock->catchUp();
    router_slot* r = find(device);
    if (!r) return;
    const router_status status = r->backend->status();
    if (status.size != r->reported) {
        r->reported = status.size;
        links_.tally->resized(device, status.size);
    }
    if (listeners_.tracing()) {
        std::string text = "router " + std::to_string(device) + " " + routerStateName(status.state);
        if (!status.detail.empty()) text += " (" + status.detail + ")";
        listeners_.note("", trace_kind::router, text);
    }
    for (host_listener* l : listeners_)
        l->routerChanged(router_change{device, r->description.name, r->description.protocol, status});
}

void engine_routers::routerWarning(int device, const std::string& text) {
    listeners_.warn("", "router " + std::to_string(device) + ": " + text);
}

// ---- what the other parts ask ---------------------------------------------

const std::string* engine_routers::entryName(int router, int database, int index) const {
    const router_slot* r = find(router);
    return r ? r->backend->name(database, index) : nullptr;
}

void engine_routers::poll(int router, int first, int last, uint64_t component) {
    if (router_slot* r = find(router)) r->backend->poll(first, last, component);
}

int engine_routers::routeAt(int router, int destination) const {
    const router_slot* r = find(router);
    return r ? r->backend->crosspoint(destination) : 0;
}

bool engine_routers::reports(int router, int destination) const {
    const router_slot* r = find(router);
    return !r || r->reported == 0 || destination <= r->reported;
}

int engine_routers::reportedDestinations(int router) const {
    const router_slot* r = find(router);
    if (!r) return 0;
    return r->reported > 0 ? std::min(r->reported, r->backend->destinations()) : r->backend->destinations();
}

// ---- the operator's actions -----------------------------------------------

bool engine_routers::route(int router, int destination, int source, std::string& error) {
    return salvo(router, {{destination, source}}, error);
}

bool engine_routers::salvo(int router, const std::vector<std::pair<int, int>>& routes, std::string& error) {
    links_.clock->catchUp();
    router_slot* r = find(router, error);
    if (!r) return false;
    const int destinations = r->backend->destinations();
    for (const auto& route : routes) {
        if (route.first < 1 || route.first > destinations) {
            error = "router " + std::to_string(router) + " has no destination " + std::to_string(route.first);
            return false;
        }
    }
    const bool answers = r->backend->status().state != router_state::not_answering;
    component_link& components = *links_.components;
    components.enterCall();
    bool ok = true;
    for (const auto& [destination, source] : routes) {
        if (listeners_.tracing())
            listeners_.note("", trace_kind::route,
                            "router " + std::to_string(router) + " destination " + std::to_string(destination) +
                                " <- source " + std::to_string(source) + (answers ? "" : " (router not answering)"));
        if (!r->backend->route(destination, source, error)) {
            ok = false;
            break;
        }
    }
    components.leaveCall();
    components.drain();
    return ok;
}

bool engine_routers::rename(int router, int database, int index, const std::string& text, std::string& error) {
    links_.clock->catchUp();
    router_slot* r = find(router, error);
    if (!r) return false;
    if (listeners_.tracing())
        listeners_.note("", trace_kind::rename,
                        "router " + std::to_string(router) + " database " + std::to_string(database) + " entry " +
                            std::to_string(index) + " = \"" + escaped(text) + "\"");
    component_link& components = *links_.components;
    components.enterCall();
    const bool ok = r->backend->rename(database, index, text, error);
    components.leaveCall();
    components.drain();
    return ok;
}

bool engine_routers::setAnswers(int router, bool answers, std::string& error) {
    links_.clock->catchUp();
    router_slot* r = find(router, error);
    return r && r->backend->setAnswers(answers, error);
}

// ---- inspection -----------------------------------------------------------

std::optional<int> engine_routers::crosspoint(int router, int destination) const {
    const router_slot* r = find(router);
    if (!r) return std::nullopt;
    return r->backend->crosspoint(destination);
}

bool engine_routers::unread() const {
    for (const auto& r : routers_)
        if (r.second->backend->unread()) return true;
    return false;
}

std::vector<int> engine_routers::numbers() const {
    std::vector<int> out;
    for (const auto& r : routers_) out.push_back(r.first);
    return out;
}

std::optional<router_status> engine_routers::status(int router) const {
    const router_slot* r = find(router);
    if (!r) return std::nullopt;
    return r->backend->status();
}

const router_description* engine_routers::description(int router) const {
    const router_slot* r = find(router);
    return r ? &r->description : nullptr;
}

}  // namespace quon
