#include "quon/engine/host_engine.h"

#include <algorithm>
#include <cstring>

#include "quon/common/text.h"
#include "quon/engine/command_parser.h"
#include "quon/engine/contract_monitor.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"

namespace quon {

namespace {

// Deliveries in one go before the host decides the components are looping.
const size_t max_deliveries_per_action = 10000000;

std::string quoted(const std::string& text) { return "\"" + escaped(text) + "\""; }

trace_kind messageKind(int type) {
    switch (type) {
        case QUON_MSG_REVERTIVE: return trace_kind::revertive;
        case QUON_MSG_DATABASE: return trace_kind::database;
        case QUON_MSG_TIMER: return trace_kind::timer;
        default: return trace_kind::value;
    }
}

std::string field(const char* name, int32_t value) { return std::string(name) + "=" + std::to_string(value); }

}  // namespace

// The host link of one component: the quon_client_callback the component
// calls, and everything the host keeps for it, in one block (its first
// panel inline; the names of panels, controls and properties are the
// layout library's, shared by every display).
struct host_engine::slot : quon_client_callback {
    slot(host_engine& owner, uint64_t sequence, std::string id)
        : engine(owner),
          seq(sequence),
          name(std::move(id)),
          contract([this](const contract_violation& v) { engine.violated(name, v); }) {}

    char* callback(void* data, int type) override { return engine.fromComponent(*this, data, type); }

    host_engine& engine;
    const uint64_t seq;
    const std::string name;
    quon_client_callback* component = nullptr;  // owned; deleted by destroySlot
    contract_monitor contract;
    // Its panels, by id: a display has one, kept here; any others in order.
    std::optional<panel_state> firstPanel;
    std::vector<panel_state> morePanels;
    // (device, index) of every destination it watches, sorted.
    std::vector<std::pair<int, int>> registrations;
    bool answered = false;  // a router has told it a route

    panel_state* panel(std::string_view id) {
        if (firstPanel && firstPanel->id() == id) return &*firstPanel;
        for (panel_state& p : morePanels)
            if (p.id() == id) return &p;
        return nullptr;
    }
    const panel_state* panel(std::string_view id) const { return const_cast<slot*>(this)->panel(id); }
    // Its registrations on `device`, as [first, last) of `registrations`.
    std::pair<size_t, size_t> on(int device) const {
        const auto first = std::lower_bound(registrations.begin(), registrations.end(), std::make_pair(device, INT32_MIN));
        const auto last = std::lower_bound(first, registrations.end(), std::make_pair(device + 1, INT32_MIN));
        return {static_cast<size_t>(first - registrations.begin()), static_cast<size_t>(last - registrations.begin())};
    }
};

// The components registered on one destination, in creation order. One
// is the rule (a wall), so the first takes no block of its own.
class listener_list {
public:
    bool empty() const { return first_ == 0; }
    void insert(uint64_t seq) {
        if (first_ == 0) {
            first_ = seq;
        } else if (seq < first_) {
            more_.insert(more_.begin(), first_);
            first_ = seq;
        } else {
            more_.insert(std::upper_bound(more_.begin(), more_.end(), seq), seq);
        }
    }
    void erase(uint64_t seq) {
        if (seq == first_) {
            first_ = more_.empty() ? 0 : more_.front();
            if (!more_.empty()) more_.erase(more_.begin());
            return;
        }
        const auto at = std::lower_bound(more_.begin(), more_.end(), seq);
        if (at != more_.end() && *at == seq) more_.erase(at);
    }
    template <typename visit>
    void forEach(const visit& f) const {
        if (first_ == 0) return;
        f(first_);
        for (uint64_t seq : more_) f(seq);
    }

private:
    uint64_t first_ = 0;  // 0: none (sequences start at 1)
    std::vector<uint64_t> more_;
};

struct host_engine::router_slot {
    router_description description;  // without the names and routes, which the backend holds
    // The entry names of the device file, to tell a rename at a reload.
    std::map<int, std::map<int, std::string>> fileNames;
    std::unique_ptr<router_backend> backend;
    // listeners[destination]: the sequences of the components registered
    // on it, in creation order.
    std::vector<listener_list> listeners;
    // The components registered on any of its destinations, in creation
    // order: they hear of its name changes. A component that unregisters
    // stays until `stale` says enough are gone (removing it at once would
    // move the whole vector for each display of a wall torn down).
    std::vector<uint64_t> registered;
    size_t stale = 0;
};

host_engine::host_engine(const system_description& system, const router_registry& routers)
    : instances_(system.instances) {
    for (const router_description& d : system.routers)
        if (auto r = makeRouter(d, routers)) routers_[d.device] = std::move(r);
}

std::unique_ptr<host_engine::router_slot> host_engine::makeRouter(const router_description& d,
                                                                  const router_registry& routers) {
    auto r = std::make_unique<router_slot>();
    std::string error;
    routers.checkKeys(d, warnings_);
    r->backend = routers.create(d, *this, error);
    if (!r->backend) {
        warnings_.push_back(error + "; router " + std::to_string(d.device) + " left out");
        return nullptr;
    }
    r->description = d;
    r->description.entryNames.clear();
    r->description.crosspoints.clear();
    if (d.protocol == "simulated") r->fileNames = d.entryNames;
    r->listeners.resize(static_cast<size_t>(r->backend->destinations()) + 1);
    return r;
}

host_engine::system_changes host_engine::applySystem(const system_description& system,
                                                     const router_registry& routers) {
    catchUpClock();
    system_changes changes;
    instances_ = system.instances;
    std::set<int> described;
    for (const router_description& d : system.routers) {
        described.insert(d.device);
        router_slot* old = router(d.device);
        const bool same = old && old->description.protocol == d.protocol && old->description.name == d.name &&
                          old->description.settings == d.settings && old->description.answers == d.answers &&
                          old->description.databaseSizes == d.databaseSizes;
        if (same) {
            if (d.protocol != "simulated" || old->fileNames == d.entryNames) continue;
            // Only the names: the entries the file changed are renamed.
            ++callDepth_;
            std::string error;
            for (const auto& [database, names] : d.entryNames)
                for (const auto& [index, text] : names) {
                    const auto was = old->fileNames.find(database);
                    const bool known = was != old->fileNames.end() && was->second.count(index);
                    if (!known || was->second.at(index) != text) old->backend->rename(database, index, text, error);
                }
            --callDepth_;
            old->fileNames = d.entryNames;
            changes.renamed.push_back(d.device);
            drain();
            continue;
        }
        std::unique_ptr<router_slot> next = makeRouter(d, routers);
        if (!next) continue;  // the warning says why; the old one, if any, runs on
        if (old) {
            old->backend->stop();
            next->listeners.resize(std::max(next->listeners.size(), old->listeners.size()));
            for (size_t index = 0; index < old->listeners.size(); ++index) next->listeners[index] = old->listeners[index];
            compactRegistered(*old);
            next->registered = old->registered;
            changes.changed.push_back(d.device);
        } else {
            changes.added.push_back(d.device);
        }
        router_slot& r = *next;
        routers_[d.device] = std::move(next);
        if (routersStarted_) r.backend->start();
        statusChanged(d.device);
        // What the new backend knows now (a simulated router: the routes
        // of its file) is news to the components registered on it.
        for (size_t destination = 1; destination < r.listeners.size(); ++destination) {
            if (r.listeners[destination].empty()) continue;
            const int source = r.backend->crosspoint(static_cast<int>(destination));
            if (source > 0) revertive(d.device, static_cast<int>(destination), source, 0);
        }
    }
    for (auto it = routers_.begin(); it != routers_.end();) {
        if (described.count(it->first)) {
            ++it;
            continue;
        }
        compactRegistered(*it->second);
        if (!it->second->registered.empty()) {
            warn("", "router " + std::to_string(it->first) +
                         ": its device file is gone, but displays watch it; it stays until serve restarts");
            ++it;
            continue;
        }
        it->second->backend->stop();
        const int device = it->first;
        it = routers_.erase(it);
        changes.removed.push_back(device);
        for (host_listener* l : listeners_) l->routerRemoved(device);
    }
    return changes;
}

host_engine::~host_engine() {
    // The listeners may already be gone: whoever wants the teardown told
    // calls destroyAll() first.
    listeners_.clear();
    tracing_ = false;
    destroyAll();
    stopRouters();
}

void host_engine::addListener(host_listener* listener) {
    listeners_.push_back(listener);
    tracing_ = tracing_ || listener->wantsTrace();
}

void host_engine::removeListener(host_listener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    tracing_ = std::any_of(listeners_.begin(), listeners_.end(), [](host_listener* l) { return l->wantsTrace(); });
}

void host_engine::startRouters() {
    routersStarted_ = true;
    for (auto& r : routers_) r.second->backend->start();
}

void host_engine::stopRouters() {
    routersStarted_ = false;
    for (auto& r : routers_) r.second->backend->stop();
}

void host_engine::destroyAll() {
    for (size_t seq = 0; seq < bySequence_.size() && liveSlots_ > 0; ++seq) {
        if (!bySequence_[seq]) continue;
        destroySlot(*bySequence_[seq]);
        drain();
    }
}

host_engine::slot* host_engine::find(const std::string& name) const {
    const auto id = byName_.find(name);
    return id == byName_.end() ? nullptr : bySequence(id->second);
}

host_engine::router_slot* host_engine::router(int device) const {
    const auto r = routers_.find(device);
    return r == routers_.end() ? nullptr : r->second.get();
}

bool host_engine::answered(const std::string& name) const {
    const slot* s = find(name);
    return s && s->answered;
}

std::optional<int> host_engine::watchedRouter(const std::string& name) const {
    const slot* s = find(name);
    if (!s || s->registrations.empty()) return std::nullopt;
    return s->registrations.front().first;
}

bool host_engine::exists(const std::string& name) const { return find(name) != nullptr; }

std::vector<std::string> host_engine::components() const {
    std::vector<std::string> names;
    for (const auto& s : bySequence_)
        if (s) names.push_back(s->name);
    return names;
}

// ---- telling the listeners ----------------------------------------------

void host_engine::trace(const std::string& component, trace_direction direction, int type, trace_kind kind,
                        std::string_view text) {
    // Callers that build a costly text test tracing_ first.
    if (!tracing_) return;
    trace_event e;
    e.time_ms = stamp();
    e.component = component;
    e.direction = direction;
    e.type = type;
    e.kind = kind;
    e.text = text;
    for (host_listener* l : listeners_) l->traced(e);
}

void host_engine::traceReply(const std::string& component, int type, trace_kind kind, std::string_view text,
                             const char* reply) {
    if (!tracing_) return;
    trace_event e;
    e.time_ms = stamp();
    e.component = component;
    e.direction = trace_direction::to_host;
    e.type = type;
    e.kind = kind;
    e.text = text;
    e.hasReply = true;
    e.replyNull = !reply;
    e.reply = reply ? reply : "";
    for (host_listener* l : listeners_) l->traced(e);
}

void host_engine::warn(const std::string& component, const std::string& text) {
    trace(component, trace_direction::host, -1, trace_kind::warning, text);
    for (host_listener* l : listeners_) l->warning(component, text);
}

void host_engine::note(const std::string& component, trace_kind kind, const std::string& text) {
    trace(component, trace_direction::host, -1, kind, text);
}

void host_engine::violated(const std::string& component, const contract_violation& v) {
    problems_.push_back((component.empty() ? "" : component + ": ") + v.text);
    trace(component, trace_direction::host, -1, trace_kind::violation, v.text);
    for (host_listener* l : listeners_) l->violation(component, v);
}

// ---- components ----------------------------------------------------------

host_engine::create_status host_engine::create(const std::string& name, const std::string& modulePath,
                                               const std::string& layoutFolder, std::string& error) {
    catchUpClock();
    if (name.empty() || name.find_first_of(" \t") != std::string::npos) {
        error = "component name \"" + escaped(name) + "\" is empty or holds a blank";
        return create_status::bad_name;
    }
    if (find(name)) {
        error = "component " + name + " exists already";
        return create_status::bad_name;
    }
    const load_function load = modules_.load(modulePath, error);
    if (!load) return create_status::load_failed;

    const uint64_t seq = nextSequence_++;
    if (bySequence_.size() <= seq) bySequence_.resize(seq + 1);
    slot& s = *(bySequence_[seq] = std::make_unique<slot>(*this, seq, name));
    ++liveSlots_;
    byName_[s.name] = seq;
    if (tracing_) note(name, trace_kind::create, modulePath + " path=" + quoted(layoutFolder));
    ++callDepth_;
    std::string fault;
    try {
        s.component = load(&s, layoutFolder.c_str());
    } catch (const module_fault& f) {
        s.component = nullptr;
        fault = f.what();
    } catch (...) {
        s.component = nullptr;
    }
    --callDepth_;
    if (!s.component) {
        error = !fault.empty() ? fault : modulePath + ": load_quon_client_script returned no component";
        byName_.erase(s.name);
        bySequence_[seq].reset();
        --liveSlots_;
        queue_.erase(std::remove_if(queue_.begin() + static_cast<std::ptrdiff_t>(queueHead_), queue_.end(),
                                    [seq](const pending& p) { return p.slot == seq; }),
                     queue_.end());
        return create_status::load_failed;
    }
    for (host_listener* l : listeners_) l->componentCreated(name);
    drain();
    return create_status::created;
}

bool host_engine::destroy(const std::string& name, std::string& error) {
    catchUpClock();
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    destroySlot(*s);
    drain();
    return true;
}

void host_engine::destroySlot(slot& s) {
    note(s.name, trace_kind::destroy, "");
    if (s.component) {
        ++callDepth_;
        try {
            delete s.component;
        } catch (...) {
            violated(s.name, {violation_kind::exception_left_callback, "an exception left the destructor"});
        }
        --callDepth_;
        s.component = nullptr;
    }
    s.contract.destroyed();
    while (!s.registrations.empty()) unregister(s, s.registrations.front().first);
    timers_.stopAll(s.seq);
    const std::string name = s.name;
    byName_.erase(s.name);
    bySequence_[s.seq].reset();
    --liveSlots_;
    for (host_listener* l : listeners_) l->componentDestroyed(name);
}

// ---- messages to components ----------------------------------------------

void host_engine::deliver(slot& s, int type, void* data) {
    if (type == QUON_MSG_REVERTIVE) {
        s.answered = true;
        ++totals_.revertives;
    }
    ++callDepth_;
    try {
        char* result = s.component->callback(data, type);
        if (result) {
            // Only parent commands return texts; any other result is the
            // component's to release.
            s.contract.report(violation_kind::text_from_message,
                              "message type " + std::to_string(type) + " returned a text");
            s.component->callback(result, QUON_MSG_RELEASE);
        }
    } catch (const module_fault& f) {
        s.contract.report(violation_kind::exception_left_callback, f.what());
    } catch (...) {
        s.contract.report(violation_kind::exception_left_callback, "an exception left callback");
    }
    --callDepth_;
}

bool host_engine::parent(const std::string& name, const char* text, std::optional<std::string>& replyText,
                         std::string& error, const std::function<void(const std::optional<std::string>&)>& replied) {
    catchUpClock();
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    replyText.reset();
    ++totals_.parentCommands;
    trace(name, trace_direction::to_component, QUON_MSG_PARENT, trace_kind::parent, text ? text : "");
    ++callDepth_;
    char* result = nullptr;
    try {
        result = s->component->callback(const_cast<char*>(text), QUON_MSG_PARENT);
    } catch (const module_fault& f) {
        s->contract.report(violation_kind::exception_left_callback, f.what());
    } catch (...) {
        s->contract.report(violation_kind::exception_left_callback, "an exception left callback");
    }
    if (result) {
        replyText = std::string(result);
        if (replyText->empty())
            s->contract.report(violation_kind::empty_parent_reply, "parent command returned an empty text instead of null");
    }
    if (tracing_) {
        trace_event e;
        e.time_ms = stamp();
        e.component = name;
        e.direction = trace_direction::to_host;
        e.type = QUON_MSG_PARENT;
        e.kind = trace_kind::reply;
        e.text = "to the parent command";
        e.hasReply = true;
        e.replyNull = !result;
        e.reply = replyText.value_or("");
        for (host_listener* l : listeners_) l->traced(e);
    }
    if (result) {
        trace(name, trace_direction::to_component, QUON_MSG_RELEASE, trace_kind::release, *replyText);
        try {
            s->component->callback(result, QUON_MSG_RELEASE);
        } catch (const module_fault& f) {
            s->contract.report(violation_kind::exception_left_callback, f.what());
        } catch (...) {
            s->contract.report(violation_kind::exception_left_callback, "an exception left callback");
        }
    }
    --callDepth_;
    if (replied) replied(replyText);
    drain();
    return true;
}

bool host_engine::button(const std::string& name, const std::string& id, const std::string& event,
                         std::string& error) {
    catchUpClock();
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    // The event text split as a parent command: command, then '=' and value.
    std::string text = event;
    const size_t equals = text.find('=');
    parentCommandRecord record;
    std::memset(&record, 0, sizeof record);
    static const char empty[1] = "";
    for (const char*& sub : record.sub) sub = empty;
    if (equals == std::string::npos) {
        record.command = text.c_str();
        record.value = empty;
    } else {
        text[equals] = '\0';
        record.command = text.c_str();
        record.value = text.c_str() + equals + 1;
        record.hasValue = true;
    }
    buttonRecord button{};
    button.id = id.c_str();
    button.event = &record;
    if (tracing_)
        trace(name, trace_direction::to_component, QUON_MSG_BUTTON, trace_kind::button,
              "id=" + quoted(id) + " event=" + quoted(event));
    deliver(*s, QUON_MSG_BUTTON, &button);
    drain();
    return true;
}

bool host_engine::value(const std::string& name, int32_t number, std::string& error) {
    catchUpClock();
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    enqueue(pending::carrying(s->seq, QUON_MSG_VALUE, number));
    drain();
    return true;
}

void host_engine::enqueue(const pending& message) { queue_.push_back(message); }

void host_engine::drain() {
    if (callDepth_ > 0) return;
    size_t delivered = 0;
    while (queueHead_ < queue_.size()) {
        if (++delivered > max_deliveries_per_action) {
            const std::string text = "components keep the host busy; " + std::to_string(queue_.size() - queueHead_) +
                                     " queued messages dropped";
            problems_.push_back(text);
            warn("", text);
            break;
        }
        pending m = queue_[queueHead_++];
        slot* target = bySequence(m.slot);
        if (!target) continue;  // destroyed meanwhile
        slot& s = *target;
        void* data = m.type == QUON_MSG_REVERTIVE  ? static_cast<void*>(&m.revertive)
                     : m.type == QUON_MSG_DATABASE ? static_cast<void*>(&m.database)
                                                   : reinterpret_cast<void*>(m.carried);
        if (tracing_) {
            std::string fields;
            switch (m.type) {
                case QUON_MSG_REVERTIVE:
                    fields = field("device", m.revertive.device) + " " + field("index", m.revertive.index) + " " +
                             field("info", m.revertive.info);
                    break;
                case QUON_MSG_DATABASE:
                    fields = field("device", m.database.device) + " " + field("database", m.database.database) + " " +
                             field("index", m.database.index);
                    break;
                case QUON_MSG_TIMER: fields = field("id", static_cast<int32_t>(m.carried)); break;
                default: fields = std::to_string(m.carried);
            }
            trace(s.name, trace_direction::to_component, m.type, messageKind(m.type), fields);
        }
        if (m.type == QUON_MSG_TIMER)
            for (host_listener* l : listeners_) l->timerFired(s.name, static_cast<int>(m.carried));
        deliver(s, m.type, data);
    }
    queue_.clear();
    queueHead_ = 0;
}

// ---- messages from components --------------------------------------------

char* host_engine::fromComponent(slot& s, void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        if (data && s.contract.isFinished())
            traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, static_cast<const char*>(data), nullptr);
        if (!s.contract.command(static_cast<const char*>(data))) return nullptr;
        return execute(s, static_cast<const char*>(data));
    }
    if (type == QUON_MSG_RELEASE) {
        char* text = static_cast<char*>(data);
        if (tracing_) trace(s.name, trace_direction::to_host, QUON_MSG_RELEASE, trace_kind::release, text ? text : "null");
        s.contract.handedBack(text);
        return nullptr;
    }
    s.contract.report(violation_kind::wrong_message_type, "message type " + std::to_string(type) + " sent to the host");
    return nullptr;
}

char* host_engine::execute(slot& s, const char* commandText) {
    const std::string_view text = commandText;
    ++totals_.commands;
    if (!listeners_.empty()) {
        scratch_.assign(text.data(), text.size());
        for (host_listener* l : listeners_) l->commandSent(s.name, scratch_);
    }
    char* result = nullptr;
    std::string warning;

    host_command c;
    std::string parseError;
    if (!parseHostCommand(text, c, parseError)) {
        traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, text, nullptr);
        warn(s.name, "malformed command " + quoted(std::string(text)) + ": " + parseError);
        return nullptr;
    }
    const host_command_info& word = *c.info;
    switch (word.word) {
        case host_word::AS: s.contract.finished(); break;
        case host_word::PS: {
            std::string layoutError;
            const std::string path(c.texts[1]);
            if (const panel_template* layout = layouts_.load(path, layoutError)) {
                // The reply is the panel id, the host's own text: the
                // interned copy lives as long as the engine.
                const std::string& id = layouts_.intern(c.texts[0]);
                if (panel_state* loaded = s.panel(id))
                    *loaded = panel_state(id, *layout);
                else if (!s.firstPanel)
                    s.firstPanel.emplace(id, *layout);
                else
                    s.morePanels.emplace_back(id, *layout);
                s.contract.keep(id.c_str(), word);
                result = const_cast<char*>(id.c_str());
            } else {
                warning = "layout " + quoted(path) + ": " + layoutError;
            }
            break;
        }
        case host_word::TP:
        case host_word::TG: {
            const bool put = word.word == host_word::TP;
            const std::string_view panelId = put ? c.texts[1] : c.texts[0];
            const std::string_view controlId = put ? c.texts[2] : c.texts[1];
            panel_state* panel = s.panel(panelId);
            const int control = panel ? panel->layout().find(controlId) : -1;
            if (control < 0) {
                warning = "no control " + quoted(std::string(controlId)) + " on panel " + quoted(std::string(panelId));
            } else if (put) {
                const size_t equals = c.texts[0].find('=');
                const auto [property, value] = panel->set(control, c.texts[0].substr(0, equals), c.texts[0].substr(equals + 1));
                if (!listeners_.empty()) {
                    const property_change change{s.name, panel->id(), panel->layout().controls[static_cast<size_t>(control)].id,
                                                 *property, *value};
                    for (host_listener* l : listeners_) l->propertyChanged(change);
                }
            } else if (c.texts[2] == "all") {
                std::string all;
                panel->forEach(control, [&all](const std::string& name, const std::string& value) {
                    all += (all.empty() ? "" : "\n") + name + "=" + value;
                });
                result = s.contract.give(word, all);
            } else {
                const std::string* v = panel->property(control, c.texts[2]);
                result = s.contract.give(word, std::string(c.texts[2]) + "=" + (v ? *v : ""));
            }
            break;
        }
        case host_word::XI: {
            const panel_state* panel = s.panel(c.texts[0]);
            if (!panel) {
                warning = "no panel " + quoted(std::string(c.texts[0]));
            } else {
                std::string ids;
                for (const panel_template::control& control : panel->layout().controls)
                    if (control.id.compare(0, c.texts[1].size(), c.texts[1]) == 0)
                        ids += (ids.empty() ? "" : ",") + control.id;
                result = s.contract.give(word, ids);
            }
            break;
        }
        case host_word::HN:
            if (!listeners_.empty()) {
                scratch_.assign(c.texts[0].data(), c.texts[0].size());
                for (host_listener* l : listeners_) l->parentNotified(s.name, scratch_);
            }
            break;
        case host_word::SD: {
            const auto instance = instances_.find(lowerCase(std::string(c.texts[0])));
            if (instance != instances_.end()) result = s.contract.give(word, instance->second);
            break;
        }
        case host_word::RN:
            if (router_slot* r = router(c.numbers[0]))
                if (const std::string* name = r->backend->name(c.numbers[1], c.numbers[2]))
                    result = s.contract.give(word, *name);
            break;
        case host_word::RR:
        case host_word::RU:
        case host_word::RP: {
            router_slot* r = router(c.numbers[0]);
            if (!r) {
                warning = "no router " + std::to_string(c.numbers[0]);
            } else if (word.word == host_word::RR) {
                registerIndices(s, *r, c.numbers[1], c.numbers[2], c.add);
                for (host_listener* l : listeners_) l->registered(s.name, c.numbers[0], c.numbers[1], c.numbers[2], c.add);
            } else if (word.word == host_word::RU) {
                unregister(s, c.numbers[0]);
            } else {
                r->backend->poll(c.numbers[1], c.numbers[2], s.seq);
            }
            break;
        }
        case host_word::ET:
            if (c.numberCount == 1) {
                stopTimer(s, c.numbers[0]);
            } else if (c.numbers[1] < 1) {
                warning =
                    "timer interval " + std::to_string(c.numbers[1]) + " is not a positive number of milliseconds";
            } else {
                startTimer(s, c.numbers[0], c.numbers[1]);
            }
            break;
    }

    if (tracing_) traceReply(s.name, QUON_MSG_COMMAND, trace_kind::command, text, result);
    if (!warning.empty()) warn(s.name, warning);
    if (tracing_ && word.word == host_word::HN)
        note(s.name, trace_kind::notify, "parent panel receives \"" + escaped(c.texts[0]) + "\"");
    return result;
}

// ---- routers --------------------------------------------------------------

void host_engine::registerIndices(slot& s, router_slot& r, int first, int last, bool add) {
    const int device = r.description.device;
    if (!add) unregister(s, device);
    auto [begin, end] = s.on(device);
    if (begin == end) {
        const auto at = std::lower_bound(r.registered.begin(), r.registered.end(), s.seq);
        if (at == r.registered.end() || *at != s.seq) r.registered.insert(at, s.seq);
    }
    // The indices of first..last it does not watch yet, in order.
    std::vector<std::pair<int, int>> added;
    const int from = std::max(first, 1), to = std::min(last, r.backend->destinations());
    size_t known = begin;
    for (int index = from; index <= to; ++index) {
        while (known < end && s.registrations[known].second < index) ++known;
        if (known < end && s.registrations[known].second == index) continue;
        added.emplace_back(device, index);
        r.listeners[static_cast<size_t>(index)].insert(s.seq);
    }
    if (added.empty()) return;
    const auto middle = s.registrations.insert(s.registrations.begin() + static_cast<std::ptrdiff_t>(end), added.begin(),
                                               added.end());
    std::inplace_merge(s.registrations.begin() + static_cast<std::ptrdiff_t>(begin), middle,
                       middle + static_cast<std::ptrdiff_t>(added.size()));
}

void host_engine::unregister(slot& s, int device) {
    const auto [begin, end] = s.on(device);
    if (begin == end) return;
    if (router_slot* r = router(device)) {
        for (size_t i = begin; i < end; ++i) {
            r->listeners[static_cast<size_t>(s.registrations[i].second)].erase(s.seq);
        }
        if (++r->stale > r->registered.size() / 2) compactRegistered(*r);
    }
    s.registrations.erase(s.registrations.begin() + static_cast<std::ptrdiff_t>(begin),
                          s.registrations.begin() + static_cast<std::ptrdiff_t>(end));
}

void host_engine::compactRegistered(router_slot& r) {
    const int device = r.description.device;
    r.registered.erase(std::remove_if(r.registered.begin(), r.registered.end(),
                                      [this, device](uint64_t seq) {
                                          const slot* s = bySequence(seq);
                                          if (!s) return true;
                                          const auto [begin, end] = s->on(device);
                                          return begin == end;
                                      }),
                       r.registered.end());
    r.stale = 0;
}

void host_engine::revertive(int device, int destination, int source, uint64_t requester) {
    catchUpClock();
    const revertiveRecord record{device, 0, destination, source};
    if (requester) {
        if (bySequence(requester)) enqueue(pending::revertiveTo(requester, record));
    } else if (router_slot* r = router(device)) {
        if (destination >= 1 && static_cast<size_t>(destination) < r->listeners.size())
            r->listeners[static_cast<size_t>(destination)].forEach(
                [this, &record](uint64_t listener) { enqueue(pending::revertiveTo(listener, record)); });
    }
    drain();
}

void host_engine::nameChanged(int device, int database, int index) {
    catchUpClock();
    if (router_slot* r = router(device))
        for (uint64_t listener : r->registered) {
            // Skipped: those that have unregistered since (see router_slot).
            const slot* s = bySequence(listener);
            if (!s) continue;
            const auto [begin, end] = s->on(device);
            if (begin != end) enqueue(pending::databaseTo(listener, databaseRecord{device, database, index}));
        }
    drain();
}

void host_engine::statusChanged(int device) {
    catchUpClock();
    router_slot* r = router(device);
    if (!r) return;
    const router_status status = r->backend->status();
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

bool host_engine::route(int device, int destination, int source, std::string& error) {
    return salvo(device, {{destination, source}}, error);
}

bool host_engine::salvo(int device, const std::vector<std::pair<int, int>>& routes, std::string& error) {
    catchUpClock();
    router_slot* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
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
    router_slot* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
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
    router_slot* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
    return r->backend->setAnswers(answers, error);
}

std::optional<int> host_engine::crosspoint(int device, int destination) const {
    const router_slot* r = router(device);
    if (!r) return std::nullopt;
    return r->backend->crosspoint(destination);
}

const std::string* host_engine::entryName(int device, int database, int index) const {
    const router_slot* r = router(device);
    return r ? r->backend->name(database, index) : nullptr;
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

// ---- timers ---------------------------------------------------------------

void host_engine::startTimer(slot& s, int id, int interval) { timers_.start(s.seq, id, interval, now_); }

void host_engine::stopTimer(slot& s, int id) { timers_.stop(s.seq, id); }

bool host_engine::advance(uint64_t milliseconds, std::string& error) {
    const uint64_t target = now_ + milliseconds;
    const uint64_t ticks = timers_.ticksUntil(target, max_ticks_per_step);
    if (ticks > max_ticks_per_step) {
        // ticksUntil stops counting past the limit, so the count is a floor.
        error = "the step would deliver more than " + std::to_string(max_ticks_per_step) +
                " timer ticks (at most " + std::to_string(max_ticks_per_step) + " a step); take shorter steps";
        return false;
    }
    while (const auto tick = timers_.popDue(target)) {
        now_ = tick->due;
        enqueue(pending::carrying(tick->owner, QUON_MSG_TIMER, tick->id));
        drain();
    }
    now_ = target;
    return true;
}

uint64_t host_engine::stamp() const {
    // Between events the host's clock stands still; a live host's records
    // are dated by the wall clock it follows.
    return clock_ ? std::max(now_, clock_()) : now_;
}

void host_engine::catchUpClock() {
    // Only between calls: timers are never delivered into a component
    // that is calling the host.
    if (!clock_ || callDepth_ > 0) return;
    const uint64_t target = clock_();
    if (target <= now_) return;
    std::string error;
    if (!advance(target - now_, error)) {
        // A live host that fell that far behind skips the ticks it missed.
        warn("", error + "; the clock jumps ahead");
        timers_.restartAll(target);
        now_ = target;
    }
}

std::optional<uint64_t> host_engine::nextDue() const { return timers_.nextDue(); }

// ---- inspection -----------------------------------------------------------

std::optional<std::string> host_engine::property(const std::string& name, const std::string& panel,
                                                 const std::string& control, const std::string& property) const {
    const slot* s = find(name);
    if (!s) return std::nullopt;
    const panel_state* p = s->panel(panel);
    const int c = p ? p->layout().find(control) : -1;
    if (c < 0) return std::nullopt;
    const std::string* v = p->property(c, property);
    return v ? std::optional<std::string>(*v) : std::nullopt;
}

// ---- names ------------------------------------------------------------------

const char* traceKindName(trace_kind kind) {
    static const char* const names[] = {"parent",  "reply", "release", "command", "revertive", "database",
                                        "timer",   "value", "button",  "create",  "destroy",   "warning",
                                        "violation", "note", "notify", "route",   "rename",    "router"};
    return names[static_cast<size_t>(kind)];
}

}  // namespace quon
