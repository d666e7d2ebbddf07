#include "quon/live/wall_check.h"

#include <algorithm>
#include <filesystem>
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
std::string routerProblem(const system_description& system, const host_engine& engine, int device) {
    const router_description* described = describedRouter(system, device);
    if (!described) {
        char file[64];
        deviceFileName(device, file, sizeof file);
        return "router " + std::to_string(device) + " has no device file (" + system.folder + "/" + file + ")";
    }
    if (engine.routerDescription(device)) return "";
    for (const std::string& warning : engine.warnings())
        if (warning.compare(0, described->path.size(), described->path) == 0) return "router " + std::to_string(device) + ": " + warning;
    return "router " + std::to_string(device) + " (" + described->path + ") could not be set up";
}

int sourcesOf(const router_description& router) {
    const auto size = router.databaseSizes.find(0);
    return size == router.databaseSizes.end() ? 0 : std::clamp(size->second, 0, max_router_size);
}

// A point of a tally mapping or a tie that this system has: a known
// matrix, a destination or source within the device file's sizes. `run`
// points from `number` on are named (a mapping of `count` indices).
void checkPoint(const system_description& system, const host_engine& engine, const std::string& who, int matrix,
                tally::point::end kind, int number, int run, const std::string& matrixAt, const std::string& numberAt,
                std::vector<std::string>& errors) {
    const std::string problem = routerProblem(system, engine, matrix);
    if (!problem.empty()) {
        errors.push_back(matrixAt + who + ": matrix " + std::to_string(matrix) + ": " + problem);
        return;
    }
    const router_description& router = *describedRouter(system, matrix);
    const bool destination = kind == tally::point::end::destination;
    const int size = destination ? router.destinations() : sourcesOf(router);
    const char* const word = destination ? "destination" : "source";
    if (number + run - 1 > size)
        errors.push_back(numberAt + who + ": " + word + " " + std::to_string(number + run - 1) + " is not one of router " +
                         std::to_string(matrix) + "'s " + std::to_string(size) + " " + word + "s (" +
                         (destination ? "DatabaseSize_1" : "DatabaseSize_0") + ")");
}

void checkTally(const wall& wall, const system_description& system, const host_engine& engine,
                std::vector<std::string>& errors) {
    for (const tally::tally_input_config& input : wall.tallyInputs)
        for (const tally::tally_map& map : input.maps) {
            const char* const word = map.first.kind == tally::point::end::destination ? "destination" : "source";
            checkPoint(system, engine, "tally input \"" + input.name + "\"", map.first.matrix, map.first.kind,
                       map.first.number, map.count, map.where.at("matrix"),
                       map.where.count("count") ? map.where.at("count") : map.where.at(word), errors);
        }
    for (size_t i = 0; i < wall.ties.size(); ++i) {
        const tally::tie& tie = wall.ties[i];
        const auto& at = wall.tieWhere[i];
        checkPoint(system, engine, "tie", tie.fromMatrix, tally::point::end::destination, tie.fromDestination, 1,
                   at.at("from.matrix"), at.at("from.destination"), errors);
        checkPoint(system, engine, "tie", tie.toMatrix, tally::point::end::source, tie.toSource, 1, at.at("to.matrix"),
                   at.at("to.source"), errors);
    }
}

}  // namespace

void checkWall(const wall& wall, const system_description& system, const host_engine& engine,
               const std::string& defaultModule, std::vector<std::string>& errors) {
    if (wall.displays.empty() && wall.tallyInputs.empty() && wall.ties.empty()) return;
    if (!system.listed) {
        errors.push_back(system.folder +
                         ": the system folder cannot be read (set VX_ROOT and VX_SYSTEM); no display finds its router");
        return;
    }
    bool defaultChecked = false;
    for (const wall_display& d : wall.displays) {
        std::error_code ignored;
        if (d.refused.count("module")) {
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
        if (d.refused.count("instance") || d.refused.count("matrix") || d.refused.count("destination") ||
            (d.instance && (d.matrix || d.destination)))
            continue;
        int device = 0, destination = 0;
        std::string at;
        std::string what;
        if (d.instance) {
            at = d.at("instance");
            what = "instance \"" + *d.instance + "\"";
            const auto found = system.instances.find(lowerCase(*d.instance));
            if (found == system.instances.end()) {
                errors.push_back(at + "display \"" + d.name + "\": " + what + " is not in " + system.folder +
                                 "/instances.ini");
                continue;
            }
            // Read as the component reads the host's answer.
            const decodeQUONString tokens(found->second.c_str(), '\'');
            device = atoiValue(tokens.tokens[0]);
            destination = atoiValue(tokens.tokens[1]);
            what += " (" + found->second + ")";
        } else if (d.matrix && d.destination) {
            at = d.at("matrix");
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
        const std::string problem = routerProblem(system, engine, device);
        if (!problem.empty()) {
            errors.push_back(at + "display \"" + d.name + "\": " + what + ": " + problem);
            continue;
        }
        const int size = describedRouter(system, device)->destinations();
        if (destination < 1 || destination > size)
            errors.push_back((d.instance ? at : d.at("destination")) + "display \"" + d.name + "\": destination " +
                             std::to_string(destination) + " is not one of router " + std::to_string(device) + "'s " +
                             std::to_string(size) + " destinations (DatabaseSize_1)");
    }
    checkTally(wall, system, engine, errors);
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
        if (d.name.empty() || d.refused.count("name") || d.refused.count("module") ||
            !std::filesystem::is_regular_file(module, ignored) || !tried.insert(module).second)
            continue;
        const std::string at = d.module.empty() ? d.at("") : d.at("module");
        std::string error;
        watch.problems.clear();
        if (engine.create(d.name, module, layoutFolder, error) != host_engine::create_status::created) {
            errors.push_back(at + "display \"" + d.name + "\": " + error);
            continue;
        }
        for (const std::string& problem : watch.problems)
            errors.push_back(at + "display \"" + d.name + "\": " + problem + " (the panel folder is " +
                             layoutFolder + "; --panels)");
        engine.destroy(d.name, error);
    }
    engine.removeListener(&watch);
}

}  // namespace quon
