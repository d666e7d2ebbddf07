// quon-host validate: checks that any component module keeps the host
// contract. Each check runs in a child process with a time limit, so that
// a crash or a hang becomes a result; every random choice derives from one
// printed seed.
#ifndef QUON_HOST_VALIDATOR_H
#define QUON_HOST_VALIDATOR_H

#include <cstdint>
#include <string>
#include <vector>

struct validator_options {
    std::string module;
    uint64_t seed = 0;
    long messages = 20000;       // random messages of the sequence check
    double timeoutSeconds = 60;  // per check; the sequence check gets more per message
    bool json = false;
};

struct check_result {
    std::string id;
    std::string description;
    std::string outcome;  // "passed", "failed", "crashed", "timed out", "skipped"
    std::string detail;
    double milliseconds = 0;
};

// Runs every check; returns 0 when all passed, 1 otherwise.
int runValidator(const validator_options& options);

#endif
