// What makes a well-formed wall file unable to work on this system: a
// display whose instance, router or destination the system does not have,
// a module that is not there, a tally mapping or tie whose matrix the
// system lacks or whose destination or source is beyond the device file's
// sizes. serve runs it before it starts a wall and
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
// A key the wall file refused (wall_display::refused) is not checked again.
void checkWall(const wall& wall, const system_description& system, const engine_routers& routers,
               const std::string& defaultModule, std::vector<std::string>& errors);

// What works but is likely a mistake: a display's state sheet without a
// [tally.NAME] (a misspelt name), whose lamps then stay off. Each
// "file:line:column: what".
std::vector<std::string> wallWarnings(const wall& wall);

// Creates one display of each module the wall uses in `engine` (whose
// routers are never started), as serve would, and destroys it again: an
// error at that display for a module that cannot be created and for each
// panel layout it asks for that cannot be read from `layoutFolder`.
// Threading: the engine's.
void checkLayouts(const wall& wall, host_engine& engine, const std::string& defaultModule,
                  const std::string& layoutFolder, std::vector<std::string>& errors);

}  // namespace quon

#endif
