// Runs one check in a child process and turns whatever happens there (a
// result, an exception, a signal, a hang past the time limit) into a
// check_result.
#ifndef QUON_VALIDATE_CHILD_RUNNER_H
#define QUON_VALIDATE_CHILD_RUNNER_H

#include "checks.h"

namespace quon {

check_result runInChild(const check& k, const validator_options& options);

}  // namespace quon

#endif
