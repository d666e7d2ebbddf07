#include "quon/output/trace_format.h"

#include <cstdio>

#include "quon/common/text.h"
#include "quon/output/json_lines.h"

namespace quon {

namespace {

const char* arrow(trace_direction d) {
    switch (d) {
        case trace_direction::to_host: return "->";
        case trace_direction::to_component: return "<-";
        default: return "!!";
    }
}

const char* directionName(trace_direction d) {
    switch (d) {
        case trace_direction::to_host: return "to_host";
        case trace_direction::to_component: return "to_component";
        default: return "host";
    }
}

// Pads `text` to `width` columns; a longer text is kept whole, so a long
// name pushes the line right rather than cutting it.
std::string padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string formatTraceText(const trace_event& event) {
    char clock[32];
    std::snprintf(clock, sizeof clock, "[%10llu.%03llu]", static_cast<unsigned long long>(event.time_ms / 1000),
                  static_cast<unsigned long long>(event.time_ms % 1000));
    const std::string kind = traceKindName(event.kind);
    std::string line = std::string(clock) + " " + padded(escapedControls(event.component), 8) + " " +
                       arrow(event.direction) + " " + padded(kind, 9) + " ";
    const bool quoted =
        event.kind == trace_kind::command || event.kind == trace_kind::parent || event.kind == trace_kind::release;
    line += quoted ? "\"" + escaped(event.text) + "\"" : escapedControls(event.text);
    if (event.hasReply) line += event.replyNull ? " => null" : " => \"" + escaped(event.reply) + "\"";
    return line;
}

std::string formatTraceJson(const trace_event& event) {
    json line = {{"time_ms", event.time_ms},
                 {"component", event.component},
                 {"direction", directionName(event.direction)},
                 {"type", event.type},
                 {"name", traceKindName(event.kind)},
                 {"text", event.text}};
    if (event.hasReply) line["reply"] = event.replyNull ? json(nullptr) : json(event.reply);
    return jsonLine(line);
}

}  // namespace quon
