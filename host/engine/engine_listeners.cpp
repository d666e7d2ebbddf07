#include "quon/engine/engine_listeners.h"

#include <algorithm>

namespace quon {

void engine_listeners::add(host_listener* listener) {
    listeners_.push_back(listener);
    tracing_ = tracing_ || listener->wantsTrace();
}

void engine_listeners::remove(host_listener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
    tracing_ = std::any_of(listeners_.begin(), listeners_.end(), [](host_listener* l) { return l->wantsTrace(); });
}

void engine_listeners::clear() {
    listeners_.clear();
    tracing_ = false;
}

trace_event engine_listeners::traceEvent(const std::string& component, trace_direction direction, int type,
                                         trace_kind kind, std::string_view text) const {
    trace_event e;
    e.time_ms = links_.clock->stamp();
    e.component = component;
    e.direction = direction;
    e.type = type;
    e.kind = kind;
    e.text = text;
    return e;
}

void engine_listeners::trace(const std::string& component, trace_direction direction, int type, trace_kind kind,
                             std::string_view text) const {
    if (!tracing_) return;
    const trace_event e = traceEvent(component, direction, type, kind, text);
    for (host_listener* l : listeners_) l->traced(e);
}

void engine_listeners::traceReply(const std::string& component, int type, trace_kind kind, std::string_view text,
                                  const char* reply) const {
    if (!tracing_) return;
    trace_event e = traceEvent(component, trace_direction::to_host, type, kind, text);
    e.hasReply = true;
    e.replyNull = !reply;
    e.reply = reply ? reply : "";
    for (host_listener* l : listeners_) l->traced(e);
}

void engine_listeners::warn(const std::string& component, const std::string& text) const {
    trace(component, trace_direction::host, -1, trace_kind::warning, text);
    for (host_listener* l : listeners_) l->warning(component, text);
}

void engine_listeners::note(const std::string& component, trace_kind kind, const std::string& text) const {
    trace(component, trace_direction::host, -1, kind, text);
}

}  // namespace quon
