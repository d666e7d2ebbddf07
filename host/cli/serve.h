// quon-host serve: a long-running host on the wall clock. It runs the
// displays of a wall file against the system's routers (simulated, or
// real ones on the network), sends them to screens, and follows the wall
// file when told to (SIGHUP); SIGINT or SIGTERM end it cleanly.
#ifndef QUON_CLI_SERVE_H
#define QUON_CLI_SERVE_H

#include <string>

#include "options.h"

namespace quon {

struct serve_options {
    std::string wallFile;
    bool quiet = false;
};

// Returns the exit code: 0 after a clean end, 2 when the wall file or the
// system cannot be used at start.
int runServe(const host_options& options, const serve_options& serve);
// quon-host check: every check serve makes of the wall file and the system
// before it starts, and nothing started. Prints the errors and warnings;
// returns 0 when there is no error, else 1.
int runCheck(const host_options& options, const std::string& wallFile);

}  // namespace quon

#endif
