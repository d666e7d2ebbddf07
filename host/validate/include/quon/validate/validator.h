// quon-host validate: checks that any component module keeps the host
// contract. Each check runs in a child process with a time limit, so that
// a crash or a hang becomes a result; every random choice derives from one
// printed seed. The checks are in checks.cpp, the child runner in
// child_runner.cpp, the reports in report.cpp.
#ifndef QUON_VALIDATE_VALIDATOR_H
#define QUON_VALIDATE_VALIDATOR_H

#include <cstdint>
#include <string>
#include <vector>

#include "quon/engine/module_loader.h"

namespace quon {

struct validator_options {
    std::string module;
    // The kinds of module it may be besides a shared object.
    module_loaders modules;
    uint64_t seed = 0;
    long messages = 20000;       // random messages of the sequence check
    double timeoutSeconds = 60;  // per check; the sequence check gets more per message
    bool json = false;
    // The module's own output on standard error (its debug lines), each
    // line escaped and headed by its check's id: to `debugLog`, or to
    // standard error when `verbose`.
    bool verbose = false;
    std::string debugLog;
};

enum class check_outcome { passed, failed, crashed, timed_out, skipped };
const char* outcomeName(check_outcome outcome);   // "passed", "timed out", ...
const char* outcomeLabel(check_outcome outcome);  // "PASS", "TIMEOUT", ...

struct check_result {
    std::string id;
    std::string description;
    check_outcome outcome = check_outcome::skipped;
    std::string detail;  // what a passing check measured, or why it did not pass
    double milliseconds = 0;
    long debugLines = 0;  // lines the module wrote to standard error
};

// Told about the run as it goes: the text and JSON reports are two.
class validation_listener {
public:
    virtual ~validation_listener() = default;
    virtual void started(const validator_options&) {}
    virtual void checked(const check_result&) {}
    virtual void finished(const validator_options&, const std::vector<check_result>&) {}
};

// Runs every check, telling `listener`; returns 0 when all passed, 1
// otherwise.
int runValidator(const validator_options& options, validation_listener& listener);

}  // namespace quon

#endif
