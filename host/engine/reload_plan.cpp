#include "quon/engine/reload_plan.h"

#include <set>

namespace quon {

bool sameRouter(const router_description& running, const router_description& next) {
    return running.protocol == next.protocol && running.name == next.name && running.settings == next.settings &&
           running.answers == next.answers && running.databaseSizes == next.databaseSizes;
}

std::vector<reload_step> planReload(const std::map<int, const router_description*>& running,
                                    const system_description& next) {
    std::vector<reload_step> steps;
    std::set<int> described;
    for (const router_description& d : next.routers) {
        described.insert(d.device);
        const auto now = running.find(d.device);
        const reload_step::action what = now == running.end()        ? reload_step::action::add
                                         : sameRouter(*now->second, d) ? reload_step::action::names
                                                                        : reload_step::action::replace;
        steps.push_back({what, d.device, &d});
    }
    for (const auto& entry : running) {
        const int device = entry.first;
        if (described.count(device)) continue;
        steps.push_back({reload_step::action::gone, device, nullptr});
    }
    return steps;
}

}  // namespace quon
