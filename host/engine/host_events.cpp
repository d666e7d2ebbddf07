#include "quon/engine/host_events.h"

#include <cstddef>

namespace quon {

const char* traceKindName(trace_kind kind) {
    static const char* const names[] = {"parent",  "reply", "release", "command", "revertive", "database",
                                        "timer",   "value", "button",  "create",  "destroy",   "warning",
                                        "violation", "note", "notify", "route",   "rename",    "router"};
    return names[static_cast<size_t>(kind)];
}

}  // namespace quon
