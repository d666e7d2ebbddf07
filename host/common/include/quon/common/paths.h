// Where quon-host finds its own files, relative to the program, so that
// moving the build tree or an installed tree keeps them working:
//   bin/quon-host
//   lib/Korvane.so, lib/libquon_string.so    (the build tree)
//   lib/quon-host/Korvane.so, ...            (installed: the host's own folder)
//   share/quon-host/examples/   (the sample system, layouts, demo, walls)
#ifndef QUON_COMMON_PATHS_H
#define QUON_COMMON_PATHS_H

#include <string>

namespace quon {

// The folder of the running executable.
std::string executableFolder();
// Korvane.so as laid out beside quon-host: bin/../lib/quon-host when that
// holds it (installed), else bin/../lib (the build tree).
std::string defaultModulePath();
// The bundled examples (bin/../share/quon-host/examples).
std::string examplesFolder();
// A module named on the command line or in a script is a file path: a
// bare name is a file of `folder` (the working directory when empty), never
// a name for the dynamic loader to search. Returns an absolute path.
std::string resolveModulePath(const std::string& path, const std::string& folder = std::string());

}  // namespace quon

#endif
