// What makes a well-formed wall file unable to work on this system: a
// display whose instance, router or destination the system does not have,
// a module that is not there. serve runs it before it starts a wall and
// before it applies a reload; `quon-host check` runs it alone.
//
// Threading: any; it reads what it is given and nothing else.
#ifndef QUON_LIVE_WALL_CHECK_H
#define QUON_LIVE_WALL_CHECK_H

#include <string>
#include <vector>

#include "quon/engine/host_engine.h"
#include "quon/engine/system_files.h"
#include "quon/live/wall_file.h"

namespace quon {

// Appends an error, "file:line:column: what", for every display that
// cannot work: all of them, in file order. `engine` was built on `system`
// and says which routers could be set up; `defaultModule` is the module of
// a display that names none. A router that is set up but down is no error.
void checkWall(const wall& wall, const system_description& system, const host_engine& engine,
               const std::string& defaultModule, std::vector<std::string>& errors);

}  // namespace quon

#endif
