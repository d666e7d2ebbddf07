#include "quon/output/trace_printer.h"

#include "quon/output/trace_format.h"

namespace quon {

void trace_printer::traced(const trace_event& e) {
    const std::string line = format_ == output_format::json ? formatTraceJson(e) : formatTraceText(e);
    std::fprintf(out_, "%s\n", line.c_str());
}

void trace_memory::traced(const trace_event& e) {
    lines_.push_back(formatTraceText(e));
    if (lines_.size() > limit_) lines_.pop_front();
}

}  // namespace quon
