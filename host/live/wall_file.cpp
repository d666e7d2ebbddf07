#include "quon/live/wall_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "quon/common/paths.h"

namespace quon {

namespace {

std::string where(const std::string& path, const toml::source_region& region) {
    return path + ":" + std::to_string(region.begin.line) + ":" + std::to_string(region.begin.column) + ": ";
}

// A whole number within low..high, or an error naming where.
std::optional<int> integerAt(const toml::node& node, const std::string& key, long long low, long long high,
                             const std::string& path, std::vector<std::string>& errors) {
    const std::optional<int64_t> value = node.value_exact<int64_t>();
    if (!value || *value < low || *value > high) {
        errors.push_back(where(path, node.source()) + "`" + key + "` takes a whole number from " +
                         std::to_string(low) + " to " + std::to_string(high));
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::string> textAt(const toml::node& node, const std::string& key, const std::string& path,
                                  std::vector<std::string>& errors) {
    const std::optional<std::string> value = node.value_exact<std::string>();
    if (!value) errors.push_back(where(path, node.source()) + "`" + key + "` takes a text");
    return value;
}

}  // namespace

std::vector<std::string> wall_display::startCommands() const {
    std::vector<std::string> commands;
    if (statesheet) commands.push_back("myStatesheet=" + *statesheet);
    if (instance) {
        commands.push_back("instance=" + *instance);
    } else {
        if (matrix) commands.push_back("myMatrix=" + std::to_string(*matrix));
        if (destination) commands.push_back("myDestination=" + std::to_string(*destination));
    }
    if (sourceDatabase) commands.push_back("mySourceDB=" + std::to_string(*sourceDatabase));
    return commands;
}

const std::string& wall_display::at(const std::string& key) const {
    const auto found = where.find(key);
    return found != where.end() ? found->second : where.at("");
}

bool wall_display::operator==(const wall_display& o) const {
    return name == o.name && module == o.module && instance == o.instance && matrix == o.matrix &&
           destination == o.destination && sourceDatabase == o.sourceDatabase && statesheet == o.statesheet;
}

bool parseWall(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors) {
    const size_t errorsBefore = errors.size();
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        errors.push_back(where(path, e.source()) + std::string(e.description()));
        return false;
    }
    wall result;
    const std::string folder = std::filesystem::absolute(path).parent_path().string();
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (name != "display" && name != "umd" && name != "tally")
            errors.push_back(where(path, key.source()) + "unknown key `" + name + "` (display, umd, tally)");
    }
    if (const toml::node* displays = table.get("display")) {
        const toml::array* list = displays->as_array();
        if (!list || !list->is_array_of_tables()) {
            errors.push_back(where(path, displays->source()) + "`display` is a list of tables: [[display]]");
        } else {
            std::set<std::string> names;
            for (const toml::node& entry : *list) {
                const toml::table& t = *entry.as_table();
                wall_display d;
                d.where[""] = where(path, t.source());
                bool named = false;
                for (const auto& [key, node] : t) {
                    const std::string k(key.str());
                    d.where[k] = where(path, node.source());
                    if (k == "name") {
                        if (const auto v = textAt(node, k, path, errors)) {
                            named = true;
                            d.name = *v;
                            if (v->empty() || v->find_first_of(" \t") != std::string::npos)
                                errors.push_back(where(path, node.source()) + "a display name is one word");
                            else if (!names.insert(*v).second)
                                errors.push_back(where(path, node.source()) + "display \"" + *v + "\" named twice");
                        }
                    } else if (k == "module") {
                        if (const auto v = textAt(node, k, path, errors)) d.module = resolveModulePath(*v, folder);
                    } else if (k == "instance") {
                        d.instance = textAt(node, k, path, errors);
                    } else if (k == "statesheet") {
                        d.statesheet = textAt(node, k, path, errors);
                    } else if (k == "matrix") {
                        d.matrix = integerAt(node, k, 1, 999, path, errors);
                    } else if (k == "destination") {
                        d.destination = integerAt(node, k, 1, 65536, path, errors);
                    } else if (k == "sourcedb") {
                        d.sourceDatabase = integerAt(node, k, 0, 999, path, errors);
                    } else if (k != "umd") {
                        errors.push_back(where(path, key.source()) + "unknown key `" + k +
                                         "` in [[display]] (name, instance, matrix, destination, sourcedb, "
                                         "statesheet, module, umd)");
                    }
                }
                if (!named) errors.push_back(where(path, t.source()) + "a [[display]] needs a `name`");
                if (d.instance && (d.matrix || d.destination))
                    errors.push_back(where(path, t.source()) + "display \"" + d.name +
                                     "\": either `instance`, or `matrix` and `destination`, not both");
                else if (!d.instance && !(d.matrix && d.destination))
                    errors.push_back(where(path, t.source()) + "display \"" + d.name + "\": " +
                                     (d.matrix ? "`matrix` without `destination`"
                                               : d.destination ? "`destination` without `matrix`"
                                                               : "neither `instance` nor `matrix` and `destination`"));
                result.displays.push_back(std::move(d));
            }
        }
    }
    readUmdConfig(table, path, result.umd, errors);
    if (errors.size() != errorsBefore) return false;
    out = std::move(result);
    return true;
}

bool readWallFile(const std::string& path, wall& out, std::vector<std::string>& errors) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        errors.push_back(path + ": a folder, not a wall file");
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int why = errno;
        errors.push_back(path + ": cannot be read: " + (why ? std::strerror(why) : "no such file"));
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseWall(text.str(), path, out, errors);
}

}  // namespace quon
