#include "trace.h"

#include <cstdio>

namespace {

// Control characters as \n, \t, \r or \xNN; with `quotes`, also '"' and
// '\\' escaped, for texts shown in quotes.
std::string escapedText(const std::string& text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (quotes && (c == '"' || c == '\\')) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string escaped(const std::string& text) { return escapedText(text, true); }

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

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

}  // namespace

std::string formatTraceText(const trace_event& event) {
    char clock[32];
    std::snprintf(clock, sizeof clock, "[%10llu.%03llu]", static_cast<unsigned long long>(event.time_ms / 1000),
                  static_cast<unsigned long long>(event.time_ms % 1000));
    char head[96];
    std::snprintf(head, sizeof head, "%s %-8s %s %-9s ", clock, event.component.c_str(), arrow(event.direction),
                  event.name.c_str());
    std::string line = head;
    const bool quoted = event.name == "command" || event.name == "parent" || event.name == "release";
    line += quoted ? "\"" + escaped(event.text) + "\"" : escapedText(event.text, false);
    if (event.hasReply) line += event.replyNull ? " => null" : " => \"" + escaped(event.reply) + "\"";
    return line;
}

std::string formatTraceJson(const trace_event& event) {
    std::string line = "{\"time_ms\":" + std::to_string(event.time_ms) +
                       ",\"component\":" + jsonString(event.component) + ",\"direction\":\"" +
                       directionName(event.direction) + "\",\"type\":" + std::to_string(event.type) +
                       ",\"name\":" + jsonString(event.name) + ",\"text\":" + jsonString(event.text);
    if (event.hasReply) line += ",\"reply\":" + (event.replyNull ? std::string("null") : jsonString(event.reply));
    return line + "}";
}
