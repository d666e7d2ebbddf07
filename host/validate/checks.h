// The checks of quon-host validate, each with a stable id. A check throws
// check_failed to fail; anything else it throws fails it too, and a crash
// or hang is caught by the child runner.
#ifndef QUON_VALIDATE_CHECKS_H
#define QUON_VALIDATE_CHECKS_H

#include <string>
#include <vector>

#include "quon/validate/validator.h"

namespace quon {

struct check_failed {
    std::string why;
};

struct check_context {
    const validator_options& options;
    std::string detail;  // what a passing check reports
};

struct check {
    const char* id;
    const char* description;
    void (*run)(check_context&);
    bool sequence;  // its time limit grows with --messages
};

const std::vector<check>& checks();

// A throw-away system for the component to read (routers 1 to 3 of 16
// destinations), with VX_ROOT and VX_SYSTEM pointing at it; in the child.
void prepareSystem();
void removeSystem();

}  // namespace quon

#endif
