// What the engine tells its listeners: typed events, each a plain record
// valid only during the call that passes it.
#ifndef QUON_ENGINE_HOST_EVENTS_H
#define QUON_ENGINE_HOST_EVENTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/contract_monitor.h"
#include "quon/engine/router_state.h"

namespace quon {

// What a trace line is about.
enum class trace_kind {
    parent,     // a parent command to a component
    reply,      // a component's reply to a parent command
    release,    // a text handed back, either way
    command,    // a command from a component, with the host's reply
    revertive,  // messages to a component
    database,
    timer,
    value,
    button,
    create,  // the host's own remarks
    destroy,
    warning,
    violation,
    note,
    notify,
    route,
    rename,
    router,
};
const char* traceKindName(trace_kind kind);

enum class trace_direction { to_host, to_component, host };

// One line of the trace: a message in either direction, or a remark of
// the host itself.
struct trace_event {
    uint64_t time_ms = 0;
    std::string component;
    trace_direction direction = trace_direction::host;
    int type = -1;  // message type; -1 for the host's own remarks
    trace_kind kind = trace_kind::note;
    std::string text;  // the text sent, or the record's fields
    bool hasReply = false;
    bool replyNull = true;
    std::string reply;
};

struct property_change {
    const std::string& component;
    const std::string& panel;
    const std::string& control;
    const std::string& property;
    const std::string& value;
};

// router_state, its names and whether it is up: router_state.h.

struct router_status {
    router_state state = router_state::answering;
    int size = 0;            // destinations the router reports, 0 when unknown
    std::string detail;      // why it was lost, when it retries
    // Up, but without these parts of the router's state, each a sentence
    // naming the part and what is shown instead; cleared when the
    // connection ends.
    std::vector<std::string> missing;
};

struct router_change {
    int device;
    const std::string& name;
    const std::string& protocol;
    const router_status& status;
};

}  // namespace quon

#endif
