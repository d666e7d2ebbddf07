// The interactive mode: scenario lines typed live (or piped in), timers on
// the wall clock, every display shown when it changes. It runs on the
// host's event loop: input and timers wait there, nothing polls.
#ifndef QUON_CLI_SHELL_H
#define QUON_CLI_SHELL_H

#include <boost/asio/io_context.hpp>

#include "options.h"
#include "quon/engine/host_engine.h"

namespace quon {

// Runs until "quit" or the end of input, then destroys every component.
// Returns the exit code (1 when a component broke the host contract).
int runShell(boost::asio::io_context& loop, host_engine& engine, const system_description& system,
             const host_options& options);

}  // namespace quon

#endif
