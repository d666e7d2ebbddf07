// How a trace line reads: as text for people, as one JSON object for
// programs.
#ifndef QUON_OUTPUT_TRACE_FORMAT_H
#define QUON_OUTPUT_TRACE_FORMAT_H

#include <string>

#include "quon/engine/host_events.h"

namespace quon {

// "[    12.345] umd1     <- parent    "instance=studio" => null"
std::string formatTraceText(const trace_event& event);
// One JSON object, no line end; text that is not UTF-8 is escaped so that
// the line always parses.
std::string formatTraceJson(const trace_event& event);

}  // namespace quon

#endif
