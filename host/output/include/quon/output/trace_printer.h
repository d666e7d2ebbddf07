// The trace as a listener: every trace line to a stream, as text or JSON.
#ifndef QUON_OUTPUT_TRACE_PRINTER_H
#define QUON_OUTPUT_TRACE_PRINTER_H

#include <cstdio>
#include <deque>
#include <string>

#include "quon/engine/host_listener.h"

namespace quon {

enum class output_format { text, json };

class trace_printer : public host_listener {
public:
    // `out` stays open while the printer is registered.
    trace_printer(std::FILE* out, output_format format) : out_(out), format_(format) {}
    bool wantsTrace() const override { return true; }
    void traced(const trace_event& e) override;

private:
    std::FILE* out_;
    output_format format_;
};

// Keeps the latest trace lines, as text, to show what led to a failure.
class trace_memory : public host_listener {
public:
    explicit trace_memory(size_t lines) : limit_(lines) {}
    bool wantsTrace() const override { return true; }
    void traced(const trace_event& e) override;
    const std::deque<std::string>& lines() const { return lines_; }

private:
    size_t limit_;
    std::deque<std::string> lines_;
};

}  // namespace quon

#endif
