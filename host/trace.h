// One line of the host's trace: a message in either direction, or a
// remark of the host itself (a warning, a protocol violation, a note).
#ifndef QUON_HOST_TRACE_H
#define QUON_HOST_TRACE_H

#include <cstdint>
#include <string>

enum class trace_direction { to_host, to_component, host };

struct trace_event {
    uint64_t time_ms = 0;
    std::string component;
    trace_direction direction = trace_direction::host;
    int type = -1;     // message type; -1 for the host's own remarks
    std::string name;  // "command", "revertive", ..., "warning", "violation", "note"
    std::string text;  // the text sent, or the record's fields
    bool hasReply = false;
    bool replyNull = true;
    std::string reply;
};

// "[    12.345] umd1     <- parent    "instance=studio" => null"
std::string formatTraceText(const trace_event& event);
// One JSON object, no line end.
std::string formatTraceJson(const trace_event& event);
// The text with line feeds, tabs, quotes and backslashes escaped as \n,
// \t, \" and \\, other control characters as \xNN.
std::string escaped(const std::string& text);
// The text as a JSON string, quotes included.
std::string jsonString(const std::string& text);

#endif
