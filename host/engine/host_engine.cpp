// The engine's components: their slots, the messages delivered to them,
// the listeners told of what happens, and the clock. The commands
// components send are host_engine_commands.cpp; the routers
// host_engine_routers.cpp.
#include "quon/engine/host_engine.h"

#include <algorithm>
#include <cstring>

#include "engine_slots.h"
#include "quon/engine/contract_monitor.h"
#include "quon_message_types.h"

namespace quon {

namespace {

// Deliveries in one go before the host decides the components are looping.
const size_t max_deliveries_per_action = 10000000;

trace_kind messageKind(int type) {
    switch (type) {
        case QUON_MSG_REVERTIVE: return trace_kind::revertive;
        case QUON_MSG_DATABASE: return trace_kind::database;
        case QUON_MSG_TIMER: return trace_kind::timer;
        default: return trace_kind::value;
    }
}

}  // namespace

host_engine::host_engine(const system_description& system, const router_registry& routers,
                         const module_loaders& loaders)
    : modules_(loaders), instances_(system.instances.begin(), system.instances.end()) {
    for (const router_description& d : system.routers)
        if (auto r = makeRouter(d, routers)) {
            watchers_.setRouter(d.device, r->backend->destinations());
            routers_[d.device] = std::move(r);
        }
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

void host_engine::destroyAll() {
    for (size_t seq = 0; seq < bySequence_.size() && liveSlots_ > 0; ++seq) {
        if (!bySequence_[seq]) continue;
        destroySlot(*bySequence_[seq]);
        drain();
    }
}

host_engine::slot* host_engine::find(const std::string& name) const {
    const uint64_t* seq = byName_.find(name);
    return seq ? bySequence(*seq) : nullptr;
}

host_engine::slot* host_engine::find(const std::string& name, std::string& error) const {
    slot* s = find(name);
    if (!s) error = "no component " + name;
    return s;
}

std::optional<int> host_engine::watchedRouter(const std::string& name) const {
    const slot* s = find(name);
    return s ? watchers_.firstRouter(s->seq) : std::nullopt;
}

std::optional<host_engine::watch_place> host_engine::watchPlace(const std::string& name) const {
    const slot* s = find(name);
    if (!s) return std::nullopt;
    if (const std::optional<std::pair<int, int>> first = watchers_.firstWatch(s->seq))
        return watch_place{first->first, first->second, false};
    if (s->absent) return watch_place{s->absent->device, s->absent->first, true};
    return std::nullopt;
}

bool host_engine::exists(const std::string& name) const { return find(name) != nullptr; }

std::vector<std::string> host_engine::components() const {
    std::vector<std::string> names;
    for (const auto& s : bySequence_)
        if (s) names.push_back(s->name);
    return names;
}

// ---- telling the listeners ----------------------------------------------

trace_event host_engine::traceEvent(const std::string& component, trace_direction direction, int type,
                                    trace_kind kind, std::string_view text) const {
    trace_event e;
    e.time_ms = stamp();
    e.component = component;
    e.direction = direction;
    e.type = type;
    e.kind = kind;
    e.text = text;
    return e;
}

void host_engine::trace(const std::string& component, trace_direction direction, int type, trace_kind kind,
                        std::string_view text) {
    // Callers that build a costly text test tracing_ first.
    if (!tracing_) return;
    const trace_event e = traceEvent(component, direction, type, kind, text);
    for (host_listener* l : listeners_) l->traced(e);
}

void host_engine::traceReply(const std::string& component, int type, trace_kind kind, std::string_view text,
                             const char* reply) {
    if (!tracing_) return;
    trace_event e = traceEvent(component, trace_direction::to_host, type, kind, text);
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
    byName_.insert(s.name, seq);
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
        // What it did while loading goes with it: its messages, the
        // destinations it watched, its timers.
        byName_.erase(s.name);
        if (s.tallied && tallyAwake_) tally_.unwatch(s.tallied->first, s.tallied->second);
        bySequence_[seq].reset();  // `s` is gone from here on
        --liveSlots_;
        queue_.dropFor(seq);
        watchers_.unwatchAll(seq);
        timers_.stopAll(seq);
        return create_status::load_failed;
    }
    for (host_listener* l : listeners_) l->componentCreated(name);
    drain();
    return create_status::created;
}

bool host_engine::destroy(const std::string& name, std::string& error) {
    catchUpClock();
    slot* s = find(name, error);
    if (!s) return false;
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
    watchers_.unwatchAll(s.seq);
    if (s.tallied && tallyAwake_) tally_.unwatch(s.tallied->first, s.tallied->second);
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
        ++totals_.revertives;
        if (!s.answered) {
            s.answered = true;
            for (host_listener* l : listeners_) l->answered(s.name);
        }
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
    slot* s = find(name, error);
    if (!s) return false;
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
    if (result) replyText = std::string(result);
    s->contract.parentReplied(text, result);
    traceReply(name, QUON_MSG_PARENT, trace_kind::reply, "to the parent command", result);
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
    slot* s = find(name, error);
    if (!s) return false;
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
    slot* s = find(name, error);
    if (!s) return false;
    enqueue(pending_message::carrying(s->seq, QUON_MSG_VALUE, number));
    drain();
    return true;
}

void host_engine::drain() {
    if (callDepth_ > 0) return;
    size_t delivered = 0;
    while (!queue_.empty()) {
        if (++delivered > max_deliveries_per_action) {
            const std::string text =
                "components keep the host busy; " + std::to_string(queue_.size()) + " queued messages dropped";
            problems_.push_back(text);
            warn("", text);
            break;
        }
        pending_message m = queue_.pop();
        slot* target = bySequence(m.component);
        if (!target) continue;  // destroyed meanwhile
        slot& s = *target;
        if (tracing_) trace(s.name, trace_direction::to_component, m.type, messageKind(m.type), m.fields());
        if (m.type == QUON_MSG_TIMER)
            for (host_listener* l : listeners_) l->timerFired(s.name, static_cast<int>(m.carried));
        deliver(s, m.type, m.data());
    }
    queue_.clear();
    flushTally();
}

// ---- timers ---------------------------------------------------------------

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
        enqueue(pending_message::carrying(tick->owner, QUON_MSG_TIMER, tick->id));
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

}  // namespace quon
