#include "quon/live/wall_check.h"

#include "quon/web/page_tls.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "quon/common/text.h"
#include "quon/script/atoi_value.h"
#include "quon/script/decode_quon_string.h"
#include "quon/script/device_file.h"

namespace quon {

namespace {

const router_description* describedRouter(const system_description& system, int device) {
    for (const router_description& r : system.routers)
        if (r.device == device) return &r;
    return nullptr;
}

// Why the device's router cannot serve displays, or "" when it can.
std::string routerProblem(const system_description& system, const engine_routers& routers, int device) {
    const router_description* described = describedRouter(system, device);
    if (!described) {
        char file[64];
        deviceFileName(device, file, sizeof file);
        return "router " + std::to_string(device) + " has no device file (" + system.folder + "/" + file + ")";
    }
    if (routers.description(device)) return "";
    if (const std::string* why = routers.leftOut(device)) return "router " + std::to_string(device) + ": " + *why;
    return "router " + std::to_string(device) + " (" + described->path + ") could not be set up";
}

// A router that cannot serve is said once, at its first use (in the order
// of the file); the line counts the other uses, which say nothing.
class router_uses {
public:
    router_uses(const system_description& system, const engine_routers& routers, std::vector<std::string>& errors)
        : system_(system), routers_(routers), errors_(errors) {}
    // Counts the other uses on each line said.
    void finish() {
        for (const auto& [device, use] : said_)
            if (use.more > 0)
                errors_[use.error] += "; " + std::to_string(use.more) + " more " +
                                      (use.more == 1 ? "display, tally map or tie uses" : "displays, tally maps and ties use") +
                                      " router " + std::to_string(device);
    }
    router_uses(const router_uses&) = delete;
    router_uses& operator=(const router_uses&) = delete;

    // True when the device's router can serve; else its error, `prefix`
    // (the place and who) before it, is said the first time.
    bool usable(int device, const std::string& prefix) {
        const auto known = said_.find(device);
        if (known != said_.end()) {
            ++known->second.more;
            return false;
        }
        if (served_.count(device)) return true;
        const std::string problem = routerProblem(system_, routers_, device);
        if (problem.empty()) {
            served_.insert(device);
            return true;
        }
        said_[device] = use{errors_.size(), 0};
        errors_.push_back(prefix + problem);
        return false;
    }

private:
    struct use {
        size_t error;  // its line in errors_
        int more;
    };
    const system_description& system_;
    const engine_routers& routers_;
    std::vector<std::string>& errors_;
    std::map<int, use> said_;
    std::set<int> served_;
};

int sourcesOf(const router_description& router) {
    const auto size = router.databaseSizes.find(0);
    return size == router.databaseSizes.end() ? 0 : std::clamp(size->second, 0, max_router_size);
}

// A point of a tally mapping or a tie that this system has: a known
// matrix, a destination or source within the device file's sizes. `run`
// points from `number` on are named (a mapping of `count` indices).
void checkPoint(const system_description& system, router_uses& uses, const std::string& who, int matrix,
                tally::point::end kind, int number, int run, const std::string& matrixAt, const std::string& numberAt,
                std::vector<std::string>& errors) {
    if (!uses.usable(matrix, matrixAt + who + ": matrix " + std::to_string(matrix) + ": ")) return;
    const router_description& router = *describedRouter(system, matrix);
    const bool destination = kind == tally::point::end::destination;
    const int size = destination ? router.destinations() : sourcesOf(router);
    const std::string word = destination ? "destination" : "source";
    const char* const key = destination ? "DatabaseSize_1" : "DatabaseSize_0";
    const int last = number + run - 1;
    if (last <= size) return;
    // A run is named as the map writes it, from its first point for `count`.
    if (run > 1)
        errors.push_back(numberAt + who + ": " + word + "s " + std::to_string(number) + " to " + std::to_string(last) +
                         "; router " + std::to_string(matrix) + " has " + std::to_string(size) + " (" + key + ")");
    else
        errors.push_back(numberAt + who + ": " + word + " " + std::to_string(last) + " is not one of router " +
                         std::to_string(matrix) + "'s " + std::to_string(size) + " " + word + "s (" + key + ")");
}

void checkTally(const wall& wall, const system_description& system, router_uses& uses,
                std::vector<std::string>& errors) {
    for (const tally::tally_input_config& input : wall.tallyInputs)
        for (const tally::tally_map& map : input.maps) {
            if (map.first.kind == tally::point::end::output) continue;  // another mixer's bus
            const char* const word = map.first.kind == tally::point::end::destination ? "destination" : "source";
            checkPoint(system, uses, "tally input \"" + input.name + "\"", map.first.matrix, map.first.kind,
                       map.first.number, map.count, map.where.at("matrix"),
                       map.where.count("count") ? map.where.at("count") : map.where.at(word), errors);
        }
    for (size_t i = 0; i < wall.ties.size(); ++i) {
        const tally::tie& tie = wall.ties[i];
        const auto& at = wall.tieWhere[i];
        checkPoint(system, uses, "tie", tie.fromMatrix, tally::point::end::destination, tie.fromDestination, 1,
                   at.at("from.matrix"), at.at("from.destination"), errors);
        checkPoint(system, uses, "tie", tie.toMatrix, tally::point::end::source, tie.toSource, 1, at.at("to.matrix"),
                   at.at("to.source"), errors);
    }
    for (size_t i = 0; i < wall.cascade.outputs.size(); ++i) {
        const tally::output& o = wall.cascade.outputs[i];
        if (o.feeds.kind != tally::point::end::source) continue;
        const auto& at = wall.cascadeWhere[i];
        const std::string who = "output of tally input \"" + o.mixer + "\"";
        checkPoint(system, uses, who, o.feeds.matrix, o.feeds.kind, o.feeds.number, 1, at.at("matrix"),
                   at.at("source"), errors);
        // A source carries one picture: a mixer's bus or a tie's, not both.
        for (size_t t = 0; t < wall.ties.size(); ++t)
            if (wall.ties[t].toMatrix == o.feeds.matrix && wall.ties[t].toSource == o.feeds.number)
                errors.push_back(at.at("source") + who + ": source " + std::to_string(o.feeds.number) + " of matrix " +
                                 std::to_string(o.feeds.matrix) + " is fed by a [[tie]] too (at " +
                                 wall.tieWhere[t].at("to.source").substr(0, wall.tieWhere[t].at("to.source").size() - 2) +
                                 ")");
    }
    for (size_t i = 0; i < wall.cascade.end.destinations.size(); ++i) {
        const tally::point& d = wall.cascade.end.destinations[i];
        const auto& at = wall.onAirWhere[i];
        checkPoint(system, uses, "on_air", d.matrix, d.kind, d.number, 1, at.at("matrix"), at.at("destination"),
                   errors);
    }
}

}  // namespace

void checkWall(const wall& wall, const system_description& system, const engine_routers& routers,
               const std::string& defaultModule, std::vector<std::string>& errors) {
    // Files a reload could not serve refuse it here, before anything changes.
    if (!wall.page.certificate.empty()) {
        std::string error;
        if (!web::loadPageIdentity(wall.page.certificate, wall.page.key, error)) errors.push_back("[page]: " + error);
    }
    if (wall.displays.empty() && wall.tallyInputs.empty() && wall.ties.empty()) return;
    if (!system.listed) {
        errors.push_back(system.folder +
                         ": the system folder cannot be read (set VX_ROOT and VX_SYSTEM); no display finds its router");
        return;
    }
    bool defaultChecked = false;
    router_uses uses(system, routers, errors);
    for (const wall_display& d : wall.displays) {
        std::error_code ignored;
        if (d.refused("module")) {
            // Said where the file was read.
        } else if (!d.module.empty()) {
            if (!std::filesystem::is_regular_file(d.module, ignored))
                errors.push_back(d.at("module") + "display \"" + d.name + "\": module " + d.module + ": no such file");
        } else if (!defaultChecked) {
            defaultChecked = true;
            if (!std::filesystem::is_regular_file(defaultModule, ignored))
                errors.push_back(d.at("") + "display \"" + d.name + "\": the default module " + defaultModule +
                                 ": no such file (--module)");
        }
        // A routing the file itself got wrong is said once, where it was read.
        if (d.refused("instance") || d.refused("matrix") || d.refused("destination") ||
            (d.instance && (d.matrix || d.destination)))
            continue;
        int device = 0, destination = 0;
        const char* at = nullptr;  // the key an error points at
        std::string what;
        if (d.instance) {
            at = "instance";
            what = "instance \"" + *d.instance + "\"";
            const auto found = system.instances.find(lowerCase(*d.instance));
            if (found == system.instances.end()) {
                errors.push_back(d.at(at) + "display \"" + d.name + "\": " + what + " is not in " + system.folder +
                                 "/instances.ini");
                continue;
            }
            // Read as the component reads the host's answer.
            const decodeQUONString tokens(found->second.c_str(), '\'');
            device = atoiValue(tokens.tokens[0]);
            destination = atoiValue(tokens.tokens[1]);
            what += " (" + found->second + ")";
        } else if (d.matrix && d.destination) {
            at = "matrix";
            device = *d.matrix;
            destination = *d.destination;
            what = "matrix " + std::to_string(device);
        } else if (!d.matrix && !d.destination && !d.module.empty()) {
            // A component of its own that watches no router.
            continue;
        } else {
            const char* const neither = "neither `instance` nor `matrix` and `destination` (nor a `module` of its own)";
            errors.push_back(d.at("") + "display \"" + d.name + "\": " +
                             (d.matrix        ? "`matrix` without `destination`"
                              : d.destination ? "`destination` without `matrix`"
                                              : neither));
            continue;
        }
        if (!uses.usable(device, d.at(at) + "display \"" + d.name + "\": " + what + ": ")) continue;
        const int size = describedRouter(system, device)->destinations();
        if (destination < 1 || destination > size)
            errors.push_back(d.at(d.instance ? at : "destination") + "display \"" + d.name + "\": destination " +
                             std::to_string(destination) + " is not one of router " + std::to_string(device) + "'s " +
                             std::to_string(size) + " destinations (DatabaseSize_1)");
    }
    checkTally(wall, system, uses, errors);
    uses.finish();
}

std::vector<std::string> wallWarnings(const wall& wall) {
    std::vector<std::string> warnings;
    for (const wall_display& d : wall.displays)
        if (d.statesheet && !wall.umd.tallies.count(*d.statesheet))
            warnings.push_back(d.at("statesheet") + "display \"" + d.name + "\": state sheet \"" + *d.statesheet +
                               "\" has no [tally." + *d.statesheet + "]; its lamps stay off");
    return warnings;
}

namespace {

// The host's warnings about one component's layouts, as it creates it.
struct layout_watch : host_listener {
    void warning(const std::string&, const std::string& text) override {
        if (text.compare(0, 7, "layout ") == 0) problems.push_back(text);
    }
    std::vector<std::string> problems;
};

}  // namespace

void checkLayouts(const wall& wall, host_engine& engine, const std::string& defaultModule,
                  const std::string& layoutFolder, std::vector<std::string>& errors) {
    std::set<std::string> tried;
    layout_watch watch;
    engine.addListener(&watch);
    for (const wall_display& d : wall.displays) {
        const std::string module = d.module.empty() ? defaultModule : d.module;
        std::error_code ignored;
        if (d.name.empty() || d.refused("name") || d.refused("module") || tried.count(module) ||
            !std::filesystem::is_regular_file(module, ignored))
            continue;
        tried.insert(module);
        const std::string at = d.module.empty() ? d.at("") : d.at("module");
        std::string error;
        watch.problems.clear();
        if (engine.components().create(d.name, module, layoutFolder, error) !=
            engine_components::create_status::created) {
            errors.push_back(at + "display \"" + d.name + "\": " + error);
            continue;
        }
        for (const std::string& problem : watch.problems)
            errors.push_back(at + "display \"" + d.name + "\": " + problem + " (the panel folder is " +
                             layoutFolder + "; --panels)");
        engine.components().destroy(d.name, error);
    }
    engine.removeListener(&watch);
}

}  // namespace quon
