// The engine's routers: their backends, what they push (router_events),
// the reload, and the operator's actions.
#include <algorithm>

#include "engine_slots.h"
#include "quon/engine/host_engine.h"
#include "quon/engine/reload_plan.h"
#include "quon_message_types.h"

namespace quon {

std::unique_ptr<host_engine::router_slot> host_engine::makeRouter(const router_description& d,
                                                                  const router_registry& routers) {
    auto r = std::make_unique<router_slot>();
    std::string error;
    routers.checkKeys(d, warnings_);
    for (std::string& e : routers.keyErrors(d)) errors_.push_back(std::move(e));
    r->backend = routers.create(d, *this, error);
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

const std::string* host_engine::leftOut(int device) const {
    const auto found = leftOut_.find(device);
    return found == leftOut_.end() ? nullptr : &found->second;
}

host_engine::router_slot* host_engine::router(int device) const {
    const auto r = routers_.find(device);
    return r == routers_.end() ? nullptr : r->second.get();
}

bool host_engine::reports(int device, int destination) const {
    const router_slot* r = router(device);
    return !r || r->reported == 0 || destination <= r->reported;
}

host_engine::router_slot* host_engine::router(int device, std::string& error) const {
    router_slot* r = router(device);
    if (!r) error = "no router " + std::to_string(device);
    return r;
}

void host_engine::startRouters() {
    routersStarted_ = true;
    for (auto& r : routers_) r.second->backend->start();
}

void host_engine::stopRouters() {
    routersStarted_ = false;
    for (auto& r : routers_) r.second->backend->stop();
}

// ---- the reload -----------------------------------------------------------

host_engine::system_changes host_engine::applySystem(const system_description& system,
                                                     const router_registry& routers) {
    catchUpClock();
    system_changes changes;
    instances_.assign(system.instances.begin(), system.instances.end());
    std::map<int, const router_description*> running;
    for (const auto& [device, r] : routers_) running[device] = &r->description;
    for (const reload_step& step : planReload(running, system)) {
        switch (step.what) {
            case reload_step::action::names: {
                ++callDepth_;
                const bool renamed = router(step.device)->backend->reloadNames(step.description->entryNames);
                --callDepth_;
                if (renamed) changes.renamed.push_back(step.device);
                drain();
                break;
            }
            case reload_step::action::replace:
            case reload_step::action::add: {
                std::unique_ptr<router_slot> next = makeRouter(*step.description, routers);
                if (!next) break;  // the warning says why; the old one, if any, runs on
                (step.what == reload_step::action::add ? changes.added : changes.changed).push_back(step.device);
                replaceRouter(std::move(next));
                break;
            }
            case reload_step::action::gone:
                if (watchers_.watched(step.device)) {
                    warn("", "router " + std::to_string(step.device) +
                                 ": its device file is gone, but displays watch it; it stays until serve restarts");
                    break;
                }
                routers_.at(step.device)->backend->stop();
                routers_.erase(step.device);
                watchers_.removeRouter(step.device);
                changes.removed.push_back(step.device);
                for (host_listener* l : listeners_) l->routerRemoved(step.device);
                break;
        }
    }
    return changes;
}

void host_engine::replaceRouter(std::unique_ptr<router_slot> next) {
    const int device = next->description.device;
    if (router_slot* old = router(device)) old->backend->stop();
    router_slot& r = *next;
    routers_[device] = std::move(next);
    watchers_.setRouter(device, r.backend->destinations());
    // What components asked of this router while the system had none they
    // watch now, and hear of below as every watcher does.
    for (const std::unique_ptr<slot>& s : bySequence_)
        if (s && s->absent && s->absent->device == device) {
            const slot::absent_watch wanted = *s->absent;
            s->absent.reset();
            watchers_.watch(s->seq, device, wanted.first, wanted.last, false);
            for (host_listener* l : listeners_) l->watched(s->name, device, wanted.first, wanted.last, false);
            retally(*s);
        }
    if (routersStarted_) r.backend->start();
    statusChanged(device);
    // The tally's routes of this router (tie lines, mixer inputs) take what
    // the new backend knows; those it does not know yet stay as they were
    // until it says, as the displays' names do.
    if (tallyAwake_) {
        std::vector<tally_graph::place> lit;
        for (int destination : tally_.routedDestinations(device))
            if (const int source = r.backend->crosspoint(destination); source > 0) {
                const auto changed = tally_.setRoute(device, destination, source);
                lit.insert(lit.end(), changed.begin(), changed.end());
            }
        tellTally(lit);
    }
    // What the new backend knows now (a simulated router: the routes of its
    // file) is news to the components watching it.
    watchers_.forEachWatchedDestination(device, [this, &r, device](int destination) {
        const int source = r.backend->crosspoint(destination);
        if (source > 0) revertive(device, destination, source, 0);
    });
}

// ---- what routers push ----------------------------------------------------
// The index holds the routers routers_ holds (set where one is made, removed
// where one goes), so a device it does not know has no watchers.

void host_engine::revertive(int device, int destination, int source, uint64_t requester) {
    catchUpClock();
    // The graph hears of the route first, so that what the component shows
    // on hearing of it goes out with the new tally; the listeners hear of
    // the tally once the components have had the revertive. A sleeping
    // graph learns the route from the router when it wakes.
    const std::vector<tally_graph::place> lit = tallyAwake_ && reports(device, destination)
                                                    ? tally_.setRoute(device, destination, source)
                                                    : std::vector<tally_graph::place>{};
    const revertiveRecord record{device, 0, destination, source};
    if (requester) {
        if (bySequence(requester)) enqueue(pending_message::revertiveTo(requester, record));
    } else {
        watchers_.forEachWatcher(device, destination, [this, &record](uint64_t watcher) {
            enqueue(pending_message::revertiveTo(watcher, record));
        });
    }
    drain();
    if (!lit.empty()) tellTally(lit);
}

void host_engine::nameChanged(int device, int database, int index) {
    catchUpClock();
    watchers_.forEachWatcherOf(device, [this, device, database, index](uint64_t watcher) {
        enqueue(pending_message::databaseTo(watcher, databaseRecord{device, database, index}));
    });
    drain();
}

void host_engine::statusChanged(int device) {
    catchUpClock();
    router_slot* r = router(device);
    if (!r) return;
    const router_status status = r->backend->status();
    if (status.size != r->reported) {
        r->reported = status.size;
        fitTally(*r, device);
    }
    if (tracing_) {
        std::string text = "router " + std::to_string(device) + " " + routerStateName(status.state);
        if (!status.detail.empty()) text += " (" + status.detail + ")";
        note("", trace_kind::router, text);
    }
    for (host_listener* l : listeners_)
        l->routerChanged(router_change{device, r->description.name, r->description.protocol, status});
}

void host_engine::routerWarning(int device, const std::string& text) {
    warn("", "router " + std::to_string(device) + ": " + text);
}

// ---- the operator's actions -----------------------------------------------

bool host_engine::route(int device, int destination, int source, std::string& error) {
    return salvo(device, {{destination, source}}, error);
}

bool host_engine::salvo(int device, const std::vector<std::pair<int, int>>& routes, std::string& error) {
    catchUpClock();
    router_slot* r = router(device, error);
    if (!r) return false;
    const int destinations = r->backend->destinations();
    for (const auto& route : routes) {
        if (route.first < 1 || route.first > destinations) {
            error = "router " + std::to_string(device) + " has no destination " + std::to_string(route.first);
            return false;
        }
    }
    const bool answers = r->backend->status().state != router_state::not_answering;
    ++callDepth_;
    bool ok = true;
    for (const auto& [destination, source] : routes) {
        if (tracing_)
            note("", trace_kind::route,
                 "router " + std::to_string(device) + " destination " + std::to_string(destination) + " <- source " +
                     std::to_string(source) + (answers ? "" : " (router not answering)"));
        if (!r->backend->route(destination, source, error)) {
            ok = false;
            break;
        }
    }
    --callDepth_;
    drain();
    return ok;
}

bool host_engine::rename(int device, int database, int index, const std::string& text, std::string& error) {
    catchUpClock();
    router_slot* r = router(device, error);
    if (!r) return false;
    if (tracing_)
        note("", trace_kind::rename,
             "router " + std::to_string(device) + " database " + std::to_string(database) + " entry " +
                 std::to_string(index) + " = " + quoted(text));
    ++callDepth_;
    const bool ok = r->backend->rename(database, index, text, error);
    --callDepth_;
    drain();
    return ok;
}

bool host_engine::setAnswers(int device, bool answers, std::string& error) {
    catchUpClock();
    router_slot* r = router(device, error);
    return r && r->backend->setAnswers(answers, error);
}

// ---- inspection -----------------------------------------------------------

std::optional<int> host_engine::crosspoint(int device, int destination) const {
    const router_slot* r = router(device);
    if (!r) return std::nullopt;
    return r->backend->crosspoint(destination);
}

bool host_engine::routersUnread() const {
    for (const auto& r : routers_)
        if (r.second->backend->unread()) return true;
    return false;
}

std::vector<int> host_engine::devices() const {
    std::vector<int> out;
    for (const auto& r : routers_) out.push_back(r.first);
    return out;
}

std::optional<router_status> host_engine::routerStatus(int device) const {
    const router_slot* r = router(device);
    if (!r) return std::nullopt;
    return r->backend->status();
}

const router_description* host_engine::routerDescription(int device) const {
    const router_slot* r = router(device);
    return r ? &r->description : nullptr;
}

}  // namespace quon
