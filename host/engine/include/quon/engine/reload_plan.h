// reload_plan: what a reload of the system folder does to the routers, as
// a list of steps decided from descriptions alone (no backend, no module):
// the engine then carries the steps out.
//
//   - a router whose device file is the same in its [Router] settings,
//     name, protocol, answering and sizes keeps its backend, which is
//     offered the file's entry names (a simulated router takes them; a
//     network router, whose names come from the router, does not);
//   - a router whose file changed in any of those is made anew;
//   - a new file adds a router;
//   - a router whose file is gone goes (the engine keeps it, with a
//     warning, while a component watches it: what the components watch
//     may change as the steps before are carried out).
//
// Threading: a pure function.
#ifndef QUON_ENGINE_RELOAD_PLAN_H
#define QUON_ENGINE_RELOAD_PLAN_H

#include <map>
#include <vector>

#include "quon/engine/system_files.h"

namespace quon {

struct reload_step {
    enum class action { names, replace, add, gone };
    action what;
    int device;
    // The router as the file now describes it (names, replace, add); null
    // for a file that is gone.
    const router_description* description;
};

// Whether two descriptions of a router differ only in entry names and
// routes (which a running backend holds as its own).
bool sameRouter(const router_description& running, const router_description& next);

// The steps, in the order of `next.routers`, then the routers whose files
// are gone, by device. `running` holds the descriptions of the routers that
// run now, by device. The steps point into `next`, which must outlive them.
std::vector<reload_step> planReload(const std::map<int, const router_description*>& running,
                                    const system_description& next);

}  // namespace quon

#endif
