#include "quon/live/wall_file.h"

#include <toml++/toml.h>

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "quon/common/duration.h"
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

// `parent = ["myFoo=1", ...]`: texts, each one parent command of one line
// (the component reads a command text up to its end, not a line).
std::vector<std::string> parentCommandsAt(const toml::node& node, const std::string& path,
                                          std::vector<std::string>& errors) {
    std::vector<std::string> commands;
    const toml::array* list = node.as_array();
    if (!list) {
        errors.push_back(where(path, node.source()) + "`parent` is a list of parent commands, e.g. [\"myFoo=1\"]");
        return commands;
    }
    for (const toml::node& item : *list) {
        const std::optional<std::string> text = item.value_exact<std::string>();
        if (!text || text->empty() || text->find_first_of("\r\n") != std::string::npos) {
            errors.push_back(where(path, item.source()) + "a parent command is a text of one line, not empty");
            continue;
        }
        commands.push_back(*text);
    }
    return commands;
}

std::optional<bool> booleanAt(const toml::node& node, const std::string& key, const std::string& path,
                              std::vector<std::string>& errors) {
    const std::optional<bool> value = node.value_exact<bool>();
    if (!value) errors.push_back(where(path, node.source()) + "`" + key + "` takes true or false");
    return value;
}

// The TSL output's settings: [umd], [tally.NAME] and a display's `umd`.
constexpr long long tsl5_max_index = 65534;   // 0xFFFF addresses every display
constexpr long long tsl5_max_screen = 65534;  // 0xFFFF addresses every screen
constexpr long long tsl31_max_address = 126;

std::optional<umd_destination> destinationAt(const toml::node& node, const std::string& path,
                                             std::vector<std::string>& errors) {
    const auto text = textAt(node, "to", path, errors);
    if (!text) return std::nullopt;
    umd_destination destination;
    std::string why;
    if (parseUmdDestination(*text, destination, why)) return destination;
    errors.push_back(where(path, node.source()) + "`to` = \"" + *text + "\" " + why);
    return std::nullopt;
}

std::optional<lamp_colour> colourAt(const toml::node& node, const std::string& key, const std::string& path,
                                    std::vector<std::string>& errors) {
    const auto text = textAt(node, key, path, errors);
    if (!text) return std::nullopt;
    if (*text == "off") return lamp_colour::off;
    if (*text == "red") return lamp_colour::red;
    if (*text == "green") return lamp_colour::green;
    if (*text == "amber") return lamp_colour::amber;
    errors.push_back(where(path, node.source()) + "`" + key + "` = \"" + *text +
                     "\" is not a colour (off, red, green or amber)");
    return std::nullopt;
}

void readTally31(const toml::node& node, tsl31_tally_map& out, const std::string& path,
                 std::vector<std::string>& errors) {
    const auto* array = node.as_array();
    if (!array || array->size() != out.size()) {
        errors.push_back(where(path, node.source()) +
                         "`tally31` lists 4 lamps, e.g. [\"left\", \"text\", \"right\", \"\"]");
        return;
    }
    for (size_t i = 0; i < out.size(); ++i) {
        const auto text = textAt(*array->get(i), "tally31", path, errors);
        if (!text) continue;
        if (*text == "left") {
            out[i] = tally_lamp::left;
        } else if (*text == "text") {
            out[i] = tally_lamp::text;
        } else if (*text == "right") {
            out[i] = tally_lamp::right;
        } else if (text->empty()) {
            out[i] = tally_lamp::none;
        } else {
            errors.push_back(where(path, array->get(i)->source()) + "`tally31` lamp \"" + *text +
                             "\" is not \"left\", \"text\", \"right\" or \"\"");
        }
    }
}

// What [umd] gives every display that does not say otherwise.
struct umd_defaults {
    std::optional<umd_destination> to;
    bool toRefused = false;  // [umd] has a `to` that is wrong, said once there
    uint16_t screen = 0;
    router_lost lost;
};

// The keys of `on_router_lost`, in [umd] and in a display's `umd`. False
// when `name` is none of them.
constexpr const char* lost_keys = "on_router_lost, lost_mark, lost_text, lost_after";
bool readLostKey(const std::string& name, const toml::node& node, router_lost& lost,
                 const toml::node*& treatmentNode, const std::string& path, std::vector<std::string>& errors) {
    if (name == "on_router_lost") {
        treatmentNode = &node;
        const auto text = textAt(node, name, path, errors);
        if (!text) return true;
        const lost_treatment all[] = {lost_treatment::keep, lost_treatment::mark, lost_treatment::blank,
                                      lost_treatment::text};
        for (lost_treatment t : all)
            if (*text == lostTreatmentName(t)) {
                lost.treatment = t;
                return true;
            }
        errors.push_back(where(path, node.source()) + "`on_router_lost` = \"" + *text +
                         "\" is not \"keep\", \"mark\", \"blank\" or \"text\"");
    } else if (name == "lost_mark") {
        const auto text = textAt(node, name, path, errors);
        if (!text) return true;
        const size_t colon = text->find(':');
        const std::string lamp = text->substr(0, colon);
        const std::string colour = colon == std::string::npos ? "" : text->substr(colon + 1);
        const std::pair<const char*, tally_lamp> lamps[] = {
            {"left", tally_lamp::left}, {"text", tally_lamp::text}, {"right", tally_lamp::right}};
        const std::pair<const char*, lamp_colour> colours[] = {
            {"red", lamp_colour::red}, {"green", lamp_colour::green}, {"amber", lamp_colour::amber}};
        const auto lampFound = std::find_if(std::begin(lamps), std::end(lamps), [&](const auto& l) { return lamp == l.first; });
        const auto colourFound =
            std::find_if(std::begin(colours), std::end(colours), [&](const auto& c) { return colour == c.first; });
        if (lampFound == std::end(lamps) || colourFound == std::end(colours)) {
            errors.push_back(where(path, node.source()) + "`lost_mark` = \"" + *text +
                             "\" is not LAMP:COLOUR (a lamp left, text or right; a colour red, green or amber), "
                             "e.g. \"text:amber\"");
            return true;
        }
        lost.markLamp = lampFound->second;
        lost.markColour = colourFound->second;
    } else if (name == "lost_text") {
        if (const auto text = textAt(node, name, path, errors)) lost.text = *text;
    } else if (name == "lost_after") {
        const auto text = textAt(node, name, path, errors);
        if (text && !parseDuration(*text, lost.after))
            errors.push_back(where(path, node.source()) + "`lost_after` = \"" + *text +
                             "\" is not a duration (\"500ms\", \"10s\", \"2m\")");
    } else {
        return false;
    }
    return true;
}

// "text" with nothing to show is refused where it is asked for.
void checkLost(const router_lost& lost, const toml::node* treatmentNode, const std::string& path,
               std::vector<std::string>& errors) {
    if (treatmentNode && lost.treatment == lost_treatment::text && lost.text.empty())
        errors.push_back(where(path, treatmentNode->source()) +
                         "`on_router_lost` = \"text\" needs `lost_text`, the text shown instead of the name");
}

void readUmdTable(const toml::table& table, umd_config& config, umd_defaults& defaults, const std::string& path,
                  std::vector<std::string>& errors) {
    const toml::node* treatmentNode = nullptr;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (readLostKey(name, node, defaults.lost, treatmentNode, path, errors)) {
        } else if (name == "to") {
            defaults.to = destinationAt(node, path, errors);
            defaults.toRefused = !defaults.to;
        } else if (name == "screen") {
            if (const auto screen = integerAt(node, name, 0, tsl5_max_screen, path, errors))
                defaults.screen = static_cast<uint16_t>(*screen);
        } else if (name == "refresh") {
            if (const auto text = textAt(node, name, path, errors))
                if (!parseDuration(*text, config.refresh))
                    errors.push_back(where(path, node.source()) + "`refresh` = \"" + *text +
                                     "\" is not a duration (\"500ms\", \"5s\", \"2m\")");
        } else if (name == "batch") {
            if (const auto value = booleanAt(node, name, path, errors)) config.batch = *value;
        } else if (name == "blank_on_exit") {
            if (const auto value = booleanAt(node, name, path, errors)) config.blank_on_exit = *value;
        } else if (name == "tally31") {
            readTally31(node, config.tally31, path, errors);
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + name +
                             "` in [umd] (to, screen, refresh, batch, blank_on_exit, tally31, " + lost_keys + ")");
        }
    }
    checkLost(defaults.lost, treatmentNode, path, errors);
}

void readTallies(const toml::table& tallies, umd_config& config, const std::string& path,
                 std::vector<std::string>& errors) {
    for (const auto& [sheet, node] : tallies) {
        const std::string sheetName(sheet.str());
        const auto* table = node.as_table();
        if (!table) {
            errors.push_back(where(path, node.source()) + "[tally." + sheetName + "] is a table");
            continue;
        }
        tally_lamps lamps;
        for (const auto& [key, value] : *table) {
            const std::string name(key.str());
            if (name == "left" || name == "text" || name == "right") {
                if (const auto colour = colourAt(value, name, path, errors))
                    (name == "left" ? lamps.left : name == "text" ? lamps.text : lamps.right) = *colour;
            } else if (name == "brightness") {
                if (const auto brightness = integerAt(value, name, 0, 3, path, errors))
                    lamps.brightness = static_cast<uint8_t>(*brightness);
            } else {
                errors.push_back(where(path, key.source()) + "unknown key `" + name + "` in [tally." + sheetName +
                                 "] (left, text, right, brightness)");
            }
        }
        config.tallies[sheetName] = lamps;
    }
}

// Where a display sits on its receiver, to find an index used twice.
using display_place = std::tuple<umd_destination, uint16_t, uint16_t>;

void readDisplayUmd(const toml::node& node, const std::string& name, const umd_defaults& defaults,
                    umd_config& config, std::map<display_place, toml::source_region>& places,
                    const std::string& path, std::vector<std::string>& errors) {
    const auto* umd = node.as_table();
    if (!umd) {
        errors.push_back(where(path, node.source()) + "`umd` is a table, e.g. { index = 1 }");
        return;
    }
    const size_t errorsBefore = errors.size();
    umd_display out;
    out.name = name;
    std::optional<umd_destination> to = defaults.to;
    const toml::node* indexNode = nullptr;
    const toml::node* screenNode = nullptr;
    const toml::node* treatmentNode = nullptr;
    router_lost lost = defaults.lost;
    for (const auto& [key, value] : *umd) {
        const std::string k(key.str());
        if (readLostKey(k, value, lost, treatmentNode, path, errors)) {
        } else if (k == "to") {
            to = destinationAt(value, path, errors);
            if (!to) return;
        } else if (k == "index") {
            indexNode = &value;
        } else if (k == "screen") {
            screenNode = &value;
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + k + "` in `umd` of display \"" + name +
                             "\" (to, index, screen, " + lost_keys + ")");
        }
    }
    checkLost(lost, treatmentNode, path, errors);
    if (!to) {
        // A wrong `to` in [umd] is one error, not one more per display.
        if (!defaults.toRefused)
            errors.push_back(where(path, umd->source()) + "no `to` for display \"" + name + "\", here or in [umd]");
        return;
    }
    out.to = *to;
    const bool tsl5 = out.to.protocol == umd_protocol::tsl5;
    out.screen = tsl5 ? defaults.screen : 0;
    if (screenNode) {
        if (!tsl5)
            errors.push_back(where(path, screenNode->source()) + "`screen` is for TSL 5 only");
        else if (const auto screen = integerAt(*screenNode, "screen", 0, tsl5_max_screen, path, errors))
            out.screen = static_cast<uint16_t>(*screen);
    }
    if (!indexNode) {
        errors.push_back(where(path, umd->source()) + "no `index` for display \"" + name + "\"");
        return;
    }
    const auto index = integerAt(*indexNode, "index", 0, tsl5 ? tsl5_max_index : tsl31_max_address, path, errors);
    if (!index) return;
    out.index = static_cast<uint16_t>(*index);
    if (errors.size() != errorsBefore) return;
    const auto [first, added] = places.emplace(display_place{out.to, out.screen, out.index}, indexNode->source());
    if (!added) {
        std::string on = umdDestinationText(out.to);
        if (tsl5) on = "screen " + std::to_string(out.screen) + " of " + on;
        errors.push_back(where(path, indexNode->source()) + (tsl5 ? "index " : "address ") +
                         std::to_string(out.index) + " is used twice on " + on + " (first at " +
                         std::to_string(first->second.begin.line) + ":" +
                         std::to_string(first->second.begin.column) + ")");
        return;
    }
    config.lost[name] = lost;
    config.displays.push_back(std::move(out));
}

// [pair]: the address whose presence makes this host the active one.
void readControl(const toml::table& table, std::optional<wall_control>& out, const std::string& path,
                 std::vector<std::string>& errors) {
    bool given = false;
    wall_control control;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (name != "token") {
            errors.push_back(where(path, key.source()) + "unknown key `" + name + "` in [control] (token)");
            continue;
        }
        const auto text = textAt(node, name, path, errors);
        if (!text) continue;
        bool printable = true;
        for (const char c : *text) printable = printable && c > ' ' && c < 0x7f;
        if (text->size() < 16 || !printable) {
            errors.push_back(where(path, node.source()) +
                             "`token` is at least 16 printable ASCII characters without blanks");
            continue;
        }
        control.token = *text;
        given = true;
    }
    if (!table.contains("token")) errors.push_back(where(path, table.source()) + "[control] needs `token`");
    if (given) out = control;
}

void readPair(const toml::table& table, std::optional<wall_pair>& out, const std::string& path,
              std::vector<std::string>& errors) {
    wall_pair pair;
    bool given = false;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (name != "active_address") {
            errors.push_back(where(path, key.source()) + "unknown key `" + name + "` in [pair] (active_address)");
            continue;
        }
        const auto text = textAt(node, name, path, errors);
        if (!text) continue;
        boost::system::error_code error;
        const boost::asio::ip::address address = boost::asio::ip::make_address(*text, error);
        // A scope (fe80::1%eth0) would tie the pair to an interface name.
        if (error || text->find('%') != std::string::npos) {
            errors.push_back(where(path, node.source()) + "`active_address` = \"" + *text +
                             "\" is not a numeric IPv4 or IPv6 address");
            continue;
        }
        if (address.is_unspecified() || address.is_multicast()) {
            errors.push_back(where(path, node.source()) + "`active_address` = \"" + *text +
                             "\" cannot be assigned to an interface (an unspecified or multicast address)");
            continue;
        }
        pair.activeAddress = address.to_string();
        given = true;
    }
    if (given) {
        out = pair;
    } else if (table.find("active_address") == table.end()) {
        errors.push_back(where(path, table.source()) + "[pair] needs `active_address`, e.g. \"192.0.2.50\"");
    }
}

}  // namespace

void sortErrorsByPlace(std::vector<std::string>::iterator first, std::vector<std::string>::iterator last,
                       const std::string& path) {
    const auto place = [&path](const std::string& error) {
        long long line = 0, column = 0;
        if (error.compare(0, path.size() + 1, path + ":") == 0) {
            const char* at = error.c_str() + path.size() + 1;
            char* end = nullptr;
            line = std::strtoll(at, &end, 10);
            if (end && *end == ':') column = std::strtoll(end + 1, nullptr, 10);
        }
        return std::make_pair(line, column);
    };
    std::stable_sort(first, last, [&](const std::string& a, const std::string& b) { return place(a) < place(b); });
}

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
    commands.insert(commands.end(), parent.begin(), parent.end());
    return commands;
}

const std::string& wall_display::at(const std::string& key) const {
    const auto found = where.find(key);
    return found != where.end() ? found->second : where.at("");
}

bool wall_display::operator==(const wall_display& o) const {
    return name == o.name && module == o.module && instance == o.instance && matrix == o.matrix &&
           destination == o.destination && sourceDatabase == o.sourceDatabase && statesheet == o.statesheet &&
           parent == o.parent;
}

bool parseWall(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors,
               wall* readable) {
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
        if (name != "display" && name != "umd" && name != "tally" && name != "pair" && name != "control")
            errors.push_back(where(path, key.source()) + "unknown key `" + name +
                             "` (display, umd, tally, pair, control)");
    }
    if (const toml::node* node = table.get("pair")) {
        if (const toml::table* pair = node->as_table())
            readPair(*pair, result.pair, path, errors);
        else
            errors.push_back(where(path, node->source()) + "`pair` is a table: [pair]");
    }
    if (const toml::node* node = table.get("control")) {
        if (const toml::table* control = node->as_table())
            readControl(*control, result.control, path, errors);
        else
            errors.push_back(where(path, node->source()) + "`control` is a table: [control]");
    }
    umd_defaults defaults;
    if (const toml::node* node = table.get("umd")) {
        if (const toml::table* umd = node->as_table())
            readUmdTable(*umd, result.umd, defaults, path, errors);
        else
            errors.push_back(where(path, node->source()) + "`umd` is a table: [umd]");
    }
    if (const toml::node* node = table.get("tally")) {
        if (const toml::table* tallies = node->as_table())
            readTallies(*tallies, result.umd, path, errors);
        else
            errors.push_back(where(path, node->source()) + "`tally` is a table of state sheets: [tally.NAME]");
    }
    std::map<display_place, toml::source_region> places;
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
                    const size_t errorsBeforeKey = errors.size();
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
                    } else if (k == "parent") {
                        d.parent = parentCommandsAt(node, path, errors);
                    } else if (k == "umd") {
                        // Read once the name is known, below.
                    } else {
                        errors.push_back(where(path, key.source()) + "unknown key `" + k +
                                         "` in [[display]] (name, instance, matrix, destination, sourcedb, "
                                         "statesheet, module, parent, umd)");
                    }
                    if (errors.size() != errorsBeforeKey) d.refused.insert(k);
                }
                if (!named) errors.push_back(where(path, t.source()) + "a [[display]] needs a `name`");
                if (const toml::node* umd = t.get("umd"); umd && named)
                    readDisplayUmd(*umd, d.name, defaults, result.umd, places, path, errors);
                if (d.instance && (d.matrix || d.destination))
                    errors.push_back(where(path, t.source()) + "display \"" + d.name +
                                     "\": either `instance`, or `matrix` and `destination`, not both");
                result.displays.push_back(std::move(d));
            }
        }
    }
    if (errors.size() != errorsBefore) {
        sortErrorsByPlace(errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), errors.end(), path);
        if (readable) *readable = std::move(result);
        return false;
    }
    out = std::move(result);
    return true;
}

bool readWallFile(const std::string& path, wall& out, std::vector<std::string>& errors, wall* readable) {
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
    return parseWall(text.str(), path, out, errors, readable);
}

}  // namespace quon
