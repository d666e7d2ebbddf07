#ifndef QUON_HOST_SHELL_H
#define QUON_HOST_SHELL_H

#include "host_engine.h"
#include "scenario.h"

// The interactive mode: scenario lines typed live, timers on the wall
// clock, every display shown after each change. Returns the exit code.
int runShell(host_engine& engine, const scenario_settings& settings, bool traceJson, bool trace);

#endif
