// Where quon-host finds the bundled sample system, the layouts and the
// default module.
#ifndef QUON_HOST_PATHS_H
#define QUON_HOST_PATHS_H

#include <string>

// The folder of the quon-host executable.
std::string executableFolder();
// Korvane.so as built beside quon-host (bin/../lib).
std::string defaultModulePath();
// The bundled examples folder.
std::string examplesFolder();

#endif
