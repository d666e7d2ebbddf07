// The components: their slots, the messages delivered to them and their
// teardown. The commands they send are engine_commands.cpp.
#include "quon/engine/engine_components.h"

#include <algorithm>
#include <cstring>

#include "engine_slots.h"
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

engine_components::engine_components(const std::map<std::string, std::string>& instances, const module_loaders& loaders,
                                     engine_links& links, const engine_listeners& listeners)
    : links_(links), listeners_(listeners), modules_(loaders), instances_(instances.begin(), instances.end()) {
    links_.components = this;
}

// The slots go with their blocks; the components in them are gone by now
// (host_engine's teardown destroys them while the routers still stand).
engine_components::~engine_components() = default;

void engine_components::setInstances(const std::map<std::string, std::string>& instances) {
    instances_.assign(instances.begin(), instances.end());
}

void engine_components::destroyAll() {
    for (size_t seq = 0; seq < bySequence_.size() && liveSlots_ > 0; ++seq) {
        if (!bySequence_[seq]) continue;
        destroySlot(*bySequence_[seq]);
        drain();
    }
}

engine_components::slot* engine_components::find(const std::string& name) const {
    const uint64_t* seq = byName_.find(name);
    return seq ? bySequence(*seq) : nullptr;
}

engine_components::slot* engine_components::find(const std::string& name, std::string& error) const {
    slot* s = find(name);
    if (!s) error = "no component " + name;
    return s;
}

const std::string* engine_components::nameOf(uint64_t component) const {
    const slot* s = bySequence(component);
    return s ? &s->name : nullptr;
}

uint64_t engine_components::sequenceOf(const std::string& name) const {
    const slot* s = find(name);
    return s ? s->seq : 0;
}

std::optional<int> engine_components::watchedRouter(const std::string& name) const {
    const slot* s = find(name);
    return s ? watchers_.firstRouter(s->seq) : std::nullopt;
}

std::optional<engine_components::watch_place> engine_components::watchPlace(const std::string& name) const {
    const slot* s = find(name);
    if (!s) return std::nullopt;
    if (const std::optional<std::pair<int, int>> first = watchers_.firstWatch(s->seq))
        return watch_place{first->first, first->second, false};
    if (s->absent) return watch_place{s->absent->router, s->absent->first, true};
    return std::nullopt;
}

bool engine_components::exists(const std::string& name) const { return find(name) != nullptr; }

std::vector<std::string> engine_components::names() const {
    std::vector<std::string> names;
    for (const auto& s : bySequence_)
        if (s) names.push_back(s->name);
    return names;
}

void engine_components::routerArrived(int router, int destinations) {
    watchers_.setRouter(router, destinations);
    // What components asked of this router while the system had none they
    // watch now, and hear of as every watcher does once the router says.
    for (const std::unique_ptr<slot>& s : bySequence_)
        if (s && s->absent && s->absent->router == router) {
            const slot::absent_watch wanted = *s->absent;
            s->absent.reset();
            watchers_.watch(s->seq, router, wanted.first, wanted.last, false);
            for (host_listener* l : listeners_) l->watched(s->name, router, wanted.first, wanted.last, false);
            links_.tally->follow(s->seq);
        }
}

void engine_components::violated(const std::string& component, const contract_violation& v) {
    problems_.push_back((component.empty() ? "" : component + ": ") + v.text);
    listeners_.trace(component, trace_direction::host, -1, trace_kind::violation, v.text);
    for (host_listener* l : listeners_) l->violation(component, v);
}

// ---- making and destroying ------------------------------------------------

engine_components::create_status engine_components::create(const std::string& name, const std::string& modulePath,
                                                           const std::string& layoutFolder, std::string& error) {
    links_.clock->catchUp();
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
    if (listeners_.tracing()) listeners_.note(name, trace_kind::create, modulePath + " path=" + quoted(layoutFolder));
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
        links_.tally->forget(seq);
        bySequence_[seq].reset();  // `s` is gone from here on
        --liveSlots_;
        queue_.dropFor(seq);
        watchers_.unwatchAll(seq);
        links_.clock->timers().stopAll(seq);
        return create_status::load_failed;
    }
    for (host_listener* l : listeners_) l->componentCreated(name);
    drain();
    return create_status::created;
}

bool engine_components::destroy(const std::string& name, std::string& error) {
    links_.clock->catchUp();
    slot* s = find(name, error);
    if (!s) return false;
    destroySlot(*s);
    drain();
    return true;
}

void engine_components::destroySlot(slot& s) {
    listeners_.note(s.name, trace_kind::destroy, "");
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
    links_.tally->forget(s.seq);
    links_.clock->timers().stopAll(s.seq);
    const std::string name = s.name;
    byName_.erase(s.name);
    bySequence_[s.seq].reset();
    --liveSlots_;
    for (host_listener* l : listeners_) l->componentDestroyed(name);
}

// ---- messages to components ----------------------------------------------

void engine_components::deliver(slot& s, int type, void* data) {
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

bool engine_components::parent(const std::string& name, const char* text, std::optional<std::string>& replyText,
                               std::string& error,
                               const std::function<void(const std::optional<std::string>&)>& replied) {
    links_.clock->catchUp();
    slot* s = find(name, error);
    if (!s) return false;
    replyText.reset();
    ++totals_.parentCommands;
    listeners_.trace(name, trace_direction::to_component, QUON_MSG_PARENT, trace_kind::parent, text ? text : "");
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
    listeners_.traceReply(name, QUON_MSG_PARENT, trace_kind::reply, "to the parent command", result);
    if (result) {
        listeners_.trace(name, trace_direction::to_component, QUON_MSG_RELEASE, trace_kind::release, *replyText);
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

bool engine_components::button(const std::string& name, const std::string& id, const std::string& event,
                               std::string& error) {
    links_.clock->catchUp();
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
    if (listeners_.tracing())
        listeners_.trace(name, trace_direction::to_component, QUON_MSG_BUTTON, trace_kind::button,
                         "id=" + quoted(id) + " event=" + quoted(event));
    deliver(*s, QUON_MSG_BUTTON, &button);
    drain();
    return true;
}

bool engine_components::value(const std::string& name, int32_t number, std::string& error) {
    links_.clock->catchUp();
    slot* s = find(name, error);
    if (!s) return false;
    enqueue(pending_message::carrying(s->seq, QUON_MSG_VALUE, number));
    drain();
    return true;
}

void engine_components::drain() {
    if (callDepth_ > 0) return;
    size_t delivered = 0;
    while (!queue_.empty()) {
        if (++delivered > max_deliveries_per_action) {
            const std::string text =
                "components keep the host busy; " + std::to_string(queue_.size()) + " queued messages dropped";
            problems_.push_back(text);
            listeners_.warn("", text);
            break;
        }
        pending_message m = queue_.pop();
        slot* target = bySequence(m.component);
        if (!target) continue;  // destroyed meanwhile
        slot& s = *target;
        if (listeners_.tracing())
            listeners_.trace(s.name, trace_direction::to_component, m.type, messageKind(m.type), m.fields());
        if (m.type == QUON_MSG_TIMER)
            for (host_listener* l : listeners_) l->timerFired(s.name, static_cast<int>(m.carried));
        deliver(s, m.type, m.data());
    }
    queue_.clear();
    links_.tally->flush();
}

// ---- inspection -----------------------------------------------------------

std::optional<std::string> engine_components::property(const std::string& name, const std::string& panel,
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
