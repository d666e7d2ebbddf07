// The engine's listeners (host_listener.h) and the trace records and
// warnings told to them: what every part of the engine tells through.
//
// Threading: the host's one thread. Ownership: host_engine owns it; the
// listeners are the callers', each kept until removed (it must outlive
// that).
#ifndef QUON_ENGINE_ENGINE_LISTENERS_H
#define QUON_ENGINE_ENGINE_LISTENERS_H

#include <string>
#include <string_view>
#include <vector>

#include "quon/engine/engine_links.h"
#include "quon/engine/host_events.h"
#include "quon/engine/host_listener.h"

namespace quon {

class engine_listeners {
public:
    // Trace records are dated by `links`' clock.
    explicit engine_listeners(const engine_links& links) : links_(links) {}

    void add(host_listener* listener);
    void remove(host_listener* listener);
    // None is told anything from here on (the engine's teardown).
    void clear();

    bool empty() const { return listeners_.empty(); }
    // Whether some listener wants trace records: building them costs time,
    // so a caller with a costly text asks first.
    bool tracing() const { return tracing_; }
    std::vector<host_listener*>::const_iterator begin() const { return listeners_.begin(); }
    std::vector<host_listener*>::const_iterator end() const { return listeners_.end(); }

    // A trace record, when tracing.
    void trace(const std::string& component, trace_direction direction, int type, trace_kind kind,
               std::string_view text) const;
    // A message to the host and the host's reply (null for none): a
    // command's, or a parent command's reply to its parent.
    void traceReply(const std::string& component, int type, trace_kind kind, std::string_view text,
                    const char* reply) const;
    // The host's own remarks: a warning (traced and told), a note (traced).
    void warn(const std::string& component, const std::string& text) const;
    void note(const std::string& component, trace_kind kind, const std::string& text) const;

private:
    trace_event traceEvent(const std::string& component, trace_direction direction, int type, trace_kind kind,
                           std::string_view text) const;

    const engine_links& links_;
    std::vector<host_listener*> listeners_;
    bool tracing_ = false;
};

}  // namespace quon

#endif
