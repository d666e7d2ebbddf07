#include "quon/engine/host_events.h"

#include <cstddef>

namespace quon {

const char* traceKindName(trace_kind kind) {
    static const char* const names[] = {"parent",  "reply", "release", "command", "revertive", "database",
                                        "timer",   "value", "button",  "create",  "destroy",   "warning",
                                        "violation", "note", "notify", "route",   "rename",    "router"};
    return names[static_cast<size_t>(kind)];
}

const char* routerStateName(router_state state) {
    switch (state) {
        case router_state::answering: return "answers";
        case router_state::not_answering: return "does not answer";
        case router_state::connecting: return "connecting";
        case router_state::connected: return "connected";
        case router_state::lost: return "lost";
    }
    return "";
}

}  // namespace quon
