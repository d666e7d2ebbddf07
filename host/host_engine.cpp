#include "host_engine.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "command_parser.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"

namespace {

// The largest router the host simulates; larger sizes are cut to it.
const int max_router_size = 65536;
// Deliveries in one go before the host decides the components are looping.
const size_t max_deliveries_per_action = 10000000;
// Parent notifications kept per component.
const size_t kept_notifications = 256;
// Released replies remembered to recognise a second hand-back.
const size_t released_memory = 256;

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

std::string quoted(const std::string& text) { return "\"" + escaped(text) + "\""; }

const char* messageName(int type) {
    switch (type) {
        case QUON_MSG_REVERTIVE: return "revertive";
        case QUON_MSG_DATABASE: return "database";
        case QUON_MSG_TIMER: return "timer";
        default: return "value";
    }
}

}  // namespace

// The host link of one component: the quon_client_callback the component
// calls, and everything the host keeps for it.
struct host_engine::slot : quon_client_callback {
    slot(host_engine& owner, uint64_t sequence, std::string id) : engine(owner), seq(sequence), name(std::move(id)) {}

    char* callback(void* data, int type) override { return engine.fromComponent(*this, data, type); }

    host_engine& engine;
    const uint64_t seq;
    const std::string name;
    quon_client_callback* component = nullptr;
    bool finished = false;  // "AS" seen
    std::map<std::string, panel_layout> panels;
    // The reply to "PS" stays the host's: components do not hand it back.
    std::map<std::string, std::string> panelReplies;
    std::vector<std::string> notifications;  // the latest ones
    std::set<char*> outstanding;
    std::deque<char*> released;
    std::map<int, std::set<int>> registrations;      // device -> indices
    std::map<int, std::pair<int, uint64_t>> timers;  // id -> interval, due
};

struct host_engine::router_state {
    router_description description;
    int destinations = 0;
    std::map<int, std::map<uint64_t, slot*>> listeners;  // destination -> slots by sequence
};

host_engine::host_engine(const system_description& system) : instances_(system.instances) {
    for (const router_description& d : system.routers) {
        auto r = std::make_unique<router_state>();
        r->description = d;
        const auto size = d.databaseSizes.find(1);
        r->destinations = size == d.databaseSizes.end() ? 0 : std::clamp(size->second, 0, max_router_size);
        routers_[d.device] = std::move(r);
    }
}

host_engine::~host_engine() {
    // The trace sink may already be gone: whoever wants the teardown traced
    // calls destroyAll() first.
    trace_ = nullptr;
    destroyAll();
}

void host_engine::destroyAll() {
    while (!slots_.empty()) {
        destroySlot(*slots_.begin()->second);
        drain();
    }
}

host_engine::slot* host_engine::find(const std::string& name) const {
    const auto id = byName_.find(name);
    return id == byName_.end() ? nullptr : slots_.at(id->second).get();
}

host_engine::router_state* host_engine::router(int device) {
    const auto r = routers_.find(device);
    return r == routers_.end() ? nullptr : r->second.get();
}

bool host_engine::exists(const std::string& name) const { return find(name) != nullptr; }

std::vector<std::string> host_engine::components() const {
    std::vector<std::string> names;
    for (const auto& s : slots_) names.push_back(s.second->name);
    return names;
}

void host_engine::traceEvent(const std::string& component, trace_direction direction, int type, const std::string& name,
                             const std::string& text) {
    // Callers that build a costly text test trace_ first.
    if (!trace_) return;
    trace_event e;
    e.time_ms = now_;
    e.component = component;
    e.direction = direction;
    e.type = type;
    e.name = name;
    e.text = text;
    trace_(e);
}

void host_engine::remark(const std::string& component, const std::string& kind, const std::string& text) {
    if (kind != "note") problems_.push_back((component.empty() ? "" : component + ": ") + text);
    traceEvent(component, trace_direction::host, -1, kind, text);
}

// ---- components ----------------------------------------------------------

host_engine::create_status host_engine::create(const std::string& name, const std::string& modulePath,
                                               const std::string& layoutFolder, std::string& error) {
    if (name.empty() || name.find_first_of(" \t") != std::string::npos) {
        error = "component name \"" + name + "\" is empty or holds a blank";
        return create_status::bad_name;
    }
    if (find(name)) {
        error = "component " + name + " exists already";
        return create_status::bad_name;
    }
    const load_function load = modules_.load(modulePath, error);
    if (!load) return create_status::load_failed;

    const uint64_t seq = nextSequence_++;
    slot& s = *(slots_[seq] = std::make_unique<slot>(*this, seq, name));
    byName_[name] = seq;
    traceEvent(name, trace_direction::host, -1, "create", modulePath + " path=" + quoted(layoutFolder));
    ++callDepth_;
    try {
        s.component = load(&s, layoutFolder.c_str());
    } catch (...) {
        s.component = nullptr;
    }
    --callDepth_;
    if (!s.component) {
        error = modulePath + ": load_quon_client_script returned no component";
        byName_.erase(name);
        slots_.erase(seq);
        return create_status::load_failed;
    }
    drain();
    return create_status::created;
}

bool host_engine::destroy(const std::string& name, std::string& error) {
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
    traceEvent(s.name, trace_direction::host, -1, "destroy", "");
    if (s.component) {
        ++callDepth_;
        delete s.component;
        --callDepth_;
        s.component = nullptr;
    }
    if (!s.finished) remark(s.name, "violation", "destroyed without sending \"AS\"");
    for (char* r : s.outstanding) {
        remark(s.name, "violation", "reply never handed back: " + quoted(r));
        delete[] r;
    }
    for (char* r : s.released) delete[] r;
    while (!s.registrations.empty()) unregister(s, s.registrations.begin()->first);
    while (!s.timers.empty()) stopTimer(s, s.timers.begin()->first);
    byName_.erase(s.name);
    slots_.erase(s.seq);
}

// ---- messages to components ----------------------------------------------

void host_engine::deliver(slot& s, int type, void* data) {
    ++callDepth_;
    try {
        char* result = s.component->callback(data, type);
        if (result) {
            // Only parent commands return texts; any other result is the
            // component's to release.
            remark(s.name, "violation", "message type " + std::to_string(type) + " returned a text");
            s.component->callback(result, QUON_MSG_RELEASE);
        }
    } catch (...) {
        remark(s.name, "violation", "an exception left callback");
    }
    --callDepth_;
}

bool host_engine::parent(const std::string& name, const char* text, std::optional<std::string>& replyText,
                         std::string& error) {
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    replyText.reset();
    traceEvent(name, trace_direction::to_component, QUON_MSG_PARENT, "parent", text ? text : "");
    ++callDepth_;
    char* result = nullptr;
    try {
        result = s->component->callback(const_cast<char*>(text), QUON_MSG_PARENT);
    } catch (...) {
        remark(name, "violation", "an exception left callback");
    }
    if (result) {
        replyText = std::string(result);
        if (replyText->empty()) remark(name, "violation", "parent command returned an empty text instead of null");
    }
    trace_event e;
    e.time_ms = now_;
    e.component = name;
    e.direction = trace_direction::to_host;
    e.type = QUON_MSG_PARENT;
    e.name = "reply";
    e.text = "to the parent command";
    e.hasReply = true;
    e.replyNull = !result;
    e.reply = replyText.value_or("");
    if (trace_) trace_(e);
    if (result) {
        traceEvent(name, trace_direction::to_component, QUON_MSG_RELEASE, "release", *replyText);
        try {
            s->component->callback(result, QUON_MSG_RELEASE);
        } catch (...) {
            remark(name, "violation", "an exception left callback");
        }
    }
    --callDepth_;
    drain();
    return true;
}

bool host_engine::button(const std::string& name, const std::string& id, const std::string& event, std::string& error) {
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
    traceEvent(name, trace_direction::to_component, QUON_MSG_BUTTON, "button",
               "id=" + quoted(id) + " event=" + quoted(event));
    deliver(*s, QUON_MSG_BUTTON, &button);
    drain();
    return true;
}

bool host_engine::value(const std::string& name, int32_t number, std::string& error) {
    slot* s = find(name);
    if (!s) {
        error = "no component " + name;
        return false;
    }
    enqueue(pending{s->seq, QUON_MSG_VALUE, {}, {}, number});
    drain();
    return true;
}

void host_engine::enqueue(const pending& message) { queue_.push_back(message); }

// The fields of a queued message, as the trace shows them.
std::string host_engine::describe(const pending& m) {
    const auto field = [](const char* name, int32_t value) { return std::string(name) + "=" + std::to_string(value); };
    switch (m.type) {
        case QUON_MSG_REVERTIVE:
            return field("device", m.revertive.device) + " " + field("index", m.revertive.index) + " " +
                   field("info", m.revertive.info);
        case QUON_MSG_DATABASE:
            return field("device", m.database.device) + " " + field("database", m.database.database) + " " +
                   field("index", m.database.index);
        case QUON_MSG_TIMER: return field("id", static_cast<int32_t>(m.carried));
        default: return std::to_string(m.carried);
    }
}

void host_engine::drain() {
    if (callDepth_ > 0) return;
    size_t delivered = 0;
    while (queueHead_ < queue_.size()) {
        if (++delivered > max_deliveries_per_action) {
            remark("", "warning",
                   "components keep the host busy; " + std::to_string(queue_.size() - queueHead_) +
                       " queued messages dropped");
            break;
        }
        pending m = queue_[queueHead_++];
        const auto found = slots_.find(m.slot);
        if (found == slots_.end()) continue;  // destroyed meanwhile
        slot& s = *found->second;
        void* data = reinterpret_cast<void*>(m.carried);
        if (m.type == QUON_MSG_REVERTIVE) data = &m.revertive;
        if (m.type == QUON_MSG_DATABASE) data = &m.database;
        if (trace_) traceEvent(s.name, trace_direction::to_component, m.type, messageName(m.type), describe(m));
        deliver(s, m.type, data);
    }
    queue_.clear();
    queueHead_ = 0;
}

// ---- messages from components --------------------------------------------

char* host_engine::fromComponent(slot& s, void* data, int type) {
    if (type == QUON_MSG_COMMAND) {
        if (!data) {
            remark(s.name, "violation", "command without a text");
            return nullptr;
        }
        return execute(s, static_cast<const char*>(data));
    }
    if (type == QUON_MSG_RELEASE) {
        handBackFromComponent(s, data);
        return nullptr;
    }
    remark(s.name, "violation", "message type " + std::to_string(type) + " sent to the host");
    return nullptr;
}

void host_engine::handBackFromComponent(slot& s, void* data) {
    char* text = static_cast<char*>(data);
    if (!text) {
        traceEvent(s.name, trace_direction::to_host, QUON_MSG_RELEASE, "release", "null");
        return;
    }
    if (s.outstanding.erase(text)) {
        if (trace_) traceEvent(s.name, trace_direction::to_host, QUON_MSG_RELEASE, "release", text);
        // Kept a while so that a second hand-back is recognised.
        s.released.push_back(text);
        if (s.released.size() > released_memory) {
            delete[] s.released.front();
            s.released.pop_front();
        }
    } else if (std::find(s.released.begin(), s.released.end(), text) != s.released.end()) {
        remark(s.name, "violation", "reply handed back twice: " + quoted(text));
    } else if (std::any_of(s.panelReplies.begin(), s.panelReplies.end(),
                           [text](const auto& r) { return r.second.c_str() == text; })) {
        remark(s.name, "violation", "handed back the reply to \"PS\", which stays the host's");
    } else {
        remark(s.name, "violation", "handed back a text the host never gave");
    }
}

char* host_engine::reply(slot& s, const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    s.outstanding.insert(copy);
    return copy;
}

void host_engine::traceCommand(const slot& s, const std::string& text, const char* reply) {
    if (!trace_) return;
    trace_event e;
    e.time_ms = now_;
    e.component = s.name;
    e.direction = trace_direction::to_host;
    e.type = QUON_MSG_COMMAND;
    e.name = "command";
    e.text = text;
    e.hasReply = true;
    e.replyNull = !reply;
    e.reply = reply ? reply : "";
    trace_(e);
}

char* host_engine::execute(slot& s, const std::string& text) {
    char* result = nullptr;
    std::string warning;

    if (s.finished) {
        traceCommand(s, text, nullptr);
        remark(s.name, "violation", "command after \"AS\": " + quoted(text));
        return nullptr;
    }
    stepCommands_[s.name].push_back(text);

    host_command c;
    std::string parseError;
    if (!parseHostCommand(text, c, parseError)) {
        warning = "malformed command " + quoted(text) + ": " + parseError;
    } else if (c.word == "AS") {
        s.finished = true;
    } else if (c.word == "PS") {
        panel_layout layout;
        std::string layoutError;
        if (loadLayout(c.texts[1], layout, layoutError)) {
            s.panels[c.texts[0]] = std::move(layout);
            result = const_cast<char*>(s.panelReplies.emplace(c.texts[0], c.texts[0]).first->second.c_str());
        } else {
            warning = "layout " + quoted(c.texts[1]) + ": " + layoutError;
        }
    } else if (c.word == "TP" || c.word == "TG") {
        const std::string& panelId = c.word == "TP" ? c.texts[1] : c.texts[0];
        const std::string& controlId = c.word == "TP" ? c.texts[2] : c.texts[1];
        const auto panel = s.panels.find(panelId);
        control_state* control = panel == s.panels.end() ? nullptr : panel->second.control(controlId);
        if (!control) {
            warning = "no control " + quoted(controlId) + " on panel " + quoted(panelId);
        } else if (c.word == "TP") {
            const size_t equals = c.texts[0].find('=');
            control->set(c.texts[0].substr(0, equals), c.texts[0].substr(equals + 1));
        } else if (c.texts[2] == "all") {
            std::string all;
            for (const auto& p : control->properties) all += (all.empty() ? "" : "\n") + p.first + "=" + p.second;
            result = reply(s, all);
        } else {
            const std::string* v = control->property(c.texts[2]);
            result = reply(s, c.texts[2] + "=" + (v ? *v : ""));
        }
    } else if (c.word == "XI") {
        const auto panel = s.panels.find(c.texts[0]);
        if (panel == s.panels.end()) {
            warning = "no panel " + quoted(c.texts[0]);
        } else {
            std::string ids;
            for (const control_state& control : panel->second.controls)
                if (control.id.compare(0, c.texts[1].size(), c.texts[1]) == 0)
                    ids += (ids.empty() ? "" : ",") + control.id;
            result = reply(s, ids);
        }
    } else if (c.word == "HN") {
        s.notifications.push_back(c.texts[0]);
        if (s.notifications.size() > kept_notifications) s.notifications.erase(s.notifications.begin());
    } else if (c.word == "SD") {
        const auto instance = instances_.find(lowerCase(c.texts[0]));
        if (instance != instances_.end()) result = reply(s, instance->second);
    } else if (c.word == "RN") {
        router_state* r = router(c.numbers[0]);
        if (r) {
            const auto database = r->description.entryNames.find(c.numbers[1]);
            if (database != r->description.entryNames.end()) {
                const auto entry = database->second.find(c.numbers[2]);
                if (entry != database->second.end()) result = reply(s, entry->second);
            }
        }
    } else if (c.word == "RR" || c.word == "RU" || c.word == "RP") {
        router_state* r = router(c.numbers[0]);
        if (!r) {
            warning = "no router " + std::to_string(c.numbers[0]);
        } else if (c.word == "RR") {
            registerIndices(s, c.numbers[0], c.numbers[1], c.numbers[2], c.add);
        } else if (c.word == "RU") {
            unregister(s, c.numbers[0]);
        } else if (r->description.answers) {
            const int first = std::max(c.numbers[1], 1);
            const int last = std::min(c.numbers[2], r->destinations);
            for (int index = first; index <= last; ++index) {
                const auto source = r->description.crosspoints.find(index);
                enqueue(pending{s.seq,
                                QUON_MSG_REVERTIVE,
                                revertiveRecord{c.numbers[0], 0, index,
                                                source == r->description.crosspoints.end() ? 0 : source->second},
                                {},
                                0});
            }
        }
    } else if (c.word == "ET") {
        if (c.numbers.size() == 1) {
            stopTimer(s, c.numbers[0]);
        } else if (c.numbers[1] < 1) {
            warning = "timer interval " + std::to_string(c.numbers[1]) + " is not a positive number of milliseconds";
        } else {
            startTimer(s, c.numbers[0], c.numbers[1]);
        }
    }

    traceCommand(s, text, result);
    if (!warning.empty()) traceEvent(s.name, trace_direction::host, -1, "warning", warning);
    if (trace_ && c.word == "HN" && warning.empty())
        traceEvent(s.name, trace_direction::host, -1, "notify",
                   "parent panel receives \"" + escaped(c.texts[0]) + "\"");
    return result;
}

// ---- routers --------------------------------------------------------------

void host_engine::registerIndices(slot& s, int device, int first, int last, bool add) {
    router_state& r = *router(device);
    if (!add) unregister(s, device);
    std::set<int>& indices = s.registrations[device];
    for (int index = std::max(first, 1); index <= std::min(last, r.destinations); ++index) {
        indices.insert(index);
        r.listeners[index][s.seq] = &s;
    }
}

void host_engine::unregister(slot& s, int device) {
    const auto registration = s.registrations.find(device);
    if (registration == s.registrations.end()) return;
    if (router_state* r = router(device))
        for (int index : registration->second) r->listeners[index].erase(s.seq);
    s.registrations.erase(registration);
}

bool host_engine::route(int device, int destination, int source, std::string& error) {
    return salvo(device, {{destination, source}}, error);
}

bool host_engine::salvo(int device, const std::vector<std::pair<int, int>>& routes, std::string& error) {
    router_state* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
    for (const auto& route : routes) {
        if (route.first < 1 || route.first > r->destinations) {
            error = "router " + std::to_string(device) + " has no destination " + std::to_string(route.first);
            return false;
        }
    }
    for (const auto& [destination, source] : routes) {
        r->description.crosspoints[destination] = source;
        if (trace_)
            traceEvent("", trace_direction::host, -1, "route",
                       "router " + std::to_string(device) + " destination " + std::to_string(destination) +
                           " <- source " + std::to_string(source) +
                           (r->description.answers ? "" : " (router not answering)"));
        if (!r->description.answers) continue;
        const auto listeners = r->listeners.find(destination);
        if (listeners != r->listeners.end())
            for (const auto& l : listeners->second)
                enqueue(pending{l.first, QUON_MSG_REVERTIVE, revertiveRecord{device, 0, destination, source}, {}, 0});
    }
    drain();
    return true;
}

bool host_engine::rename(int device, int database, int index, const std::string& text, std::string& error) {
    router_state* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
    r->description.entryNames[database][index] = text;
    traceEvent("", trace_direction::host, -1, "rename",
               "router " + std::to_string(device) + " database " + std::to_string(database) + " entry " +
                   std::to_string(index) + " = " + quoted(text));
    for (const auto& s : slots_)
        if (s.second->registrations.count(device))
            enqueue(pending{s.first, QUON_MSG_DATABASE, {}, databaseRecord{device, database, index}, 0});
    drain();
    return true;
}

bool host_engine::setAnswers(int device, bool answers, std::string& error) {
    router_state* r = router(device);
    if (!r) {
        error = "no router " + std::to_string(device);
        return false;
    }
    r->description.answers = answers;
    traceEvent("", trace_direction::host, -1, "router",
               "router " + std::to_string(device) + (answers ? " answers" : " does not answer"));
    return true;
}

std::optional<int> host_engine::crosspoint(int device, int destination) const {
    const auto r = routers_.find(device);
    if (r == routers_.end()) return std::nullopt;
    const auto x = r->second->description.crosspoints.find(destination);
    return x == r->second->description.crosspoints.end() ? 0 : x->second;
}

// ---- timers ---------------------------------------------------------------

void host_engine::startTimer(slot& s, int id, int interval) {
    stopTimer(s, id);
    const uint64_t due = now_ + static_cast<uint64_t>(interval);
    s.timers[id] = {interval, due};
    timerQueue_.emplace(due, s.seq, id);
}

void host_engine::stopTimer(slot& s, int id) {
    const auto timer = s.timers.find(id);
    if (timer == s.timers.end()) return;
    timerQueue_.erase(std::make_tuple(timer->second.second, s.seq, id));
    s.timers.erase(timer);
}

void host_engine::advance(uint64_t milliseconds) {
    const uint64_t target = now_ + milliseconds;
    while (!timerQueue_.empty() && std::get<0>(*timerQueue_.begin()) <= target) {
        const auto [due, seq, id] = *timerQueue_.begin();
        timerQueue_.erase(timerQueue_.begin());
        now_ = due;
        slot& s = *slots_.at(seq);
        auto& timer = s.timers.at(id);
        timer.second = due + static_cast<uint64_t>(timer.first);
        timerQueue_.emplace(timer.second, seq, id);
        enqueue(pending{seq, QUON_MSG_TIMER, {}, {}, id});
        drain();
    }
    now_ = target;
}

// ---- inspection -----------------------------------------------------------

void host_engine::beginStep() { stepCommands_.clear(); }

std::vector<std::string> host_engine::commandsThisStep(const std::string& name) const {
    const auto commands = stepCommands_.find(name);
    return commands == stepCommands_.end() ? std::vector<std::string>() : commands->second;
}

std::optional<std::string> host_engine::property(const std::string& name, const std::string& panel,
                                                 const std::string& control, const std::string& property) const {
    const slot* s = find(name);
    if (!s) return std::nullopt;
    const auto p = s->panels.find(panel);
    if (p == s->panels.end()) return std::nullopt;
    const control_state* c = p->second.control(control);
    if (!c) return std::nullopt;
    const std::string* v = c->property(property);
    return v ? std::optional<std::string>(*v) : std::nullopt;
}

std::vector<std::string> host_engine::notifications(const std::string& name) const {
    const slot* s = find(name);
    return s ? s->notifications : std::vector<std::string>();
}

std::string host_engine::display(const std::string& name) const {
    const std::optional<std::string> text = property(name, "1", "myMimic", "text");
    if (!text) return name + ": (no myMimic on panel 1)";
    const std::optional<std::string> sheet = property(name, "1", "myMimic", "statesheet");
    std::string line = name + ": [ " + *text + " ]";
    if (sheet && !sheet->empty()) line += " (" + *sheet + ")";
    return line;
}
