// Runs one check in a child process and turns whatever happens there (a
// result, an exception, a signal, a hang past the time limit) into a
// check_result. `output` gets what the check's child wrote to standard
// error (the module's debug lines), raw, up to 16 MiB.
#ifndef QUON_VALIDATE_CHILD_RUNNER_H
#define QUON_VALIDATE_CHILD_RUNNER_H

#include <string>

#include "checks.h"

namespace quon {

check_result runInChild(const check& k, const validator_options& options, std::string& output);

}  // namespace quon

#endif
