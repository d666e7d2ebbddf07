#include "quon/live/wall_file.h"

#include <toml++/toml.h>

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <iterator>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "quon/common/paths.h"
#include "quon/common/text.h"
#include "wall_quick.h"
#include "wall_tally.h"
#include "wall_toml.h"
#include "wall_umd.h"

namespace quon {

namespace {

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

// A token of the page: at least 16 printable ASCII characters without
// blanks.
std::optional<std::string> tokenAt(const toml::node& node, const std::string& key, const std::string& path,
                                   std::vector<std::string>& errors) {
    const auto text = textAt(node, key, path, errors);
    if (!text) return std::nullopt;
    bool printable = true;
    for (const char c : *text) printable = printable && c > ' ' && c < 0x7f;
    if (text->size() < 16 || !printable) {
        errors.push_back(where(path, node.source()) + "`" + key +
                         "` is at least 16 printable ASCII characters without blanks");
        return std::nullopt;
    }
    return text;
}

// [control]: the token of the page's control API.
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
        const auto token = tokenAt(node, name, path, errors);
        if (!token) continue;
        control.token = *token;
        given = true;
    }
    if (!table.contains("token")) errors.push_back(where(path, table.source()) + "[control] needs `token`");
    if (given) out = control;
}

// [page]: the names, the view token, HTTPS and the limits of the page.
void readPage(const toml::table& table, wall_page_settings& out, const std::string& path, const std::string& folder,
              std::vector<std::string>& errors) {
    const auto count = [&](const toml::node& node, const std::string& key, std::size_t& into, long long high) {
        if (const auto v = integerAt(node, key, 1, high, path, errors)) into = static_cast<std::size_t>(*v);
    };
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (name == "names") {
            const toml::array* list = node.as_array();
            if (!list) {
                errors.push_back(where(path, node.source()) +
                                 "`names` is a list of host names: names = [\"wall.example\"]");
                continue;
            }
            for (const toml::node& item : *list) {
                const std::optional<std::string> text = item.value_exact<std::string>();
                std::string lower = text ? lowerCase(*text) : std::string();
                const bool dns = !lower.empty() && lower.size() <= 253 && lower.front() != '.' &&
                                 lower.front() != '-' && std::all_of(lower.begin(), lower.end(), [](char c) {
                                     return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
                                 });
                if (!dns) {
                    errors.push_back(where(path, item.source()) +
                                     "a name of `names` is a host name as users type it, of letters, digits, '-' and "
                                     "'.', without a port (\"wall.studio.example\")");
                    continue;
                }
                out.names.push_back(std::move(lower));
            }
        } else if (name == "view_token") {
            if (const auto token = tokenAt(node, name, path, errors)) out.viewToken = *token;
        } else if (name == "certificate" || name == "key") {
            if (const auto file = textAt(node, name, path, errors))
                (name == "key" ? out.key : out.certificate) =
                    (std::filesystem::path(folder) / *file).lexically_normal().string();
        } else if (name == "plain_http") {
            const auto text = textAt(node, name, path, errors);
            if (text && *text != "redirect" && *text != "off")
                errors.push_back(where(path, node.source()) + "`plain_http` = \"" + *text +
                                 "\" is not \"redirect\" or \"off\"");
            else if (text)
                out.redirectPlain = *text == "redirect";
        } else if (name == "connections") {
            count(node, name, out.limits.connections, 100000);
        } else if (name == "connections_per_client") {
            count(node, name, out.limits.connectionsPerClient, 100000);
        } else if (name == "pages") {
            count(node, name, out.limits.pages, 100000);
        } else if (name == "pages_per_client") {
            count(node, name, out.limits.pagesPerClient, 100000);
        } else if (name == "requests_per_second") {
            if (const auto v = integerAt(node, name, 1, 100000, path, errors))
                out.limits.requestsPerSecond = static_cast<unsigned>(*v);
        } else if (name == "header_timeout") {
            if (const auto timeout = durationAt(node, name, true, path, errors)) out.limits.headerTimeout = *timeout;
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + name +
                             "` in [page] (names, view_token, certificate, key, plain_http, connections, "
                             "connections_per_client, pages, pages_per_client, requests_per_second, header_timeout)");
        }
    }
    if (table.contains("certificate") != table.contains("key"))
        errors.push_back(where(path, table.source()) + "[page] needs both `certificate` and `key`, or neither");
    if (table.contains("plain_http") && !table.contains("certificate"))
        errors.push_back(where(path, table["plain_http"].node()->source()) +
                         "`plain_http` is for a page served over HTTPS: give it `certificate` and `key`");
}

// [pair]: the address whose presence makes this host the active one.
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

std::string wall_display::at(const std::string& key) const {
    const int index = keyIndex(key);
    const place& p = index > 0 && places[static_cast<size_t>(index)].line ? places[static_cast<size_t>(index)] : places[0];
    return (file ? *file : std::string()) + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
}

bool wall_display::refused(std::string_view key) const {
    if (!refusedKeys) return false;
    const int index = keyIndex(key);
    return index >= 0 && (refusedKeys >> index & 1) != 0;
}

bool wall_display::operator==(const wall_display& o) const {
    return name == o.name && module == o.module && instance == o.instance && matrix == o.matrix &&
           destination == o.destination && sourceDatabase == o.sourceDatabase && statesheet == o.statesheet &&
           parent == o.parent && shows == o.shows;
}

namespace {

// What reading a file's tables keeps from one to the next.
struct table_reading {
    std::unordered_set<std::string> names;  // the displays' names taken
    umd_defaults defaults;                  // [umd]'s
    std::map<display_place, toml::source_region> places;  // the screens' indices taken
};

// What the full reading makes of a parsed file: its displays, screens,
// tally and the rest, each error said with its place.
void readTable(const toml::table& table, const std::string& path, const std::string& folder, wall& result,
               table_reading& reading, std::vector<std::string>& errors) {
    std::unordered_set<std::string>& names = reading.names;
    umd_defaults& defaults = reading.defaults;
    std::map<display_place, toml::source_region>& places = reading.places;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (name != "display" && name != "umd" && name != "tally" && name != "pair" && name != "control" &&
            name != "page" && name != "tally_in" && name != "on_air" && name != "tie")
            errors.push_back(where(path, key.source()) + "unknown key `" + name +
                             "` (display, umd, tally, pair, control, page, tally_in, on_air, tie)");
    }
    if (const toml::node* node = table.get("tally_in"))
        readTallyInputs(*node, result.tallyInputs, result.cascade, result.cascadeWhere, path, errors);
    if (const toml::node* node = table.get("on_air"))
        readOnAir(*node, result.tallyInputs, result.cascade.end, result.onAirWhere, path, errors);
    if (const toml::node* node = table.get("tie")) readTies(*node, result.ties, result.tieWhere, path, errors);
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
    if (const toml::node* node = table.get("page")) {
        if (const toml::table* page = node->as_table())
            readPage(*page, result.page, path, folder, errors);
        else
            errors.push_back(where(path, node->source()) + "`page` is a table: [page]");
    }
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
    const toml::node* displays = table.get("display");
    if (!displays) return;
    const toml::array* list = displays->as_array();
    if (!list || !list->is_array_of_tables()) {
        errors.push_back(where(path, displays->source()) + "`display` is a list of tables: [[display]]");
        return;
    }
    const auto file = std::make_shared<const std::string>(path);
    const auto placeOf = [](const toml::source_region& region) {
        return wall_display::place{static_cast<uint32_t>(region.begin.line), static_cast<uint32_t>(region.begin.column)};
    };
    result.displays.reserve(list->size());
    names.reserve(names.size() + list->size());
    for (const toml::node& entry : *list) {
        const toml::table& t = *entry.as_table();
        wall_display d;
        d.file = file;
        d.places[0] = placeOf(t.source());
        bool named = false;
        for (const auto& [key, node] : t) {
            const std::string k(key.str());
            const int index = wall_display::keyIndex(k);
            if (index > 0) d.places[static_cast<size_t>(index)] = placeOf(node.source());
            const size_t errorsBeforeKey = errors.size();
            if (k == "name") {
                if (const auto v = textAt(node, k, path, errors)) {
                    named = true;
                    d.name = *v;
                    if (!isOneWord(*v))
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
                d.matrix = integerAt(node, k, matrix_range.low, matrix_range.high, path, errors);
            } else if (k == "destination") {
                d.destination = integerAt(node, k, destination_range.low, destination_range.high, path, errors);
            } else if (k == "sourcedb") {
                d.sourceDatabase = integerAt(node, k, sourcedb_range.low, sourcedb_range.high, path, errors);
            } else if (k == "parent") {
                d.parent = parentCommandsAt(node, path, errors);
            } else if (k == "umd") {
                // Read once the name is known, below.
            } else if (k == "text_control" || k == "text_panel") {
                // A control or panel id the component names in its "TP": one word.
                if (const auto v = textAt(node, k, path, errors)) {
                    if (!isOneWord(*v))
                        errors.push_back(where(path, node.source()) + "`" + k + "` is one word, as the component names it");
                    else
                        (k == "text_control" ? d.shows.control : d.shows.panel) = *v;
                }
            } else {
                errors.push_back(where(path, key.source()) + "unknown key `" + k +
                                 "` in [[display]] (name, instance, matrix, destination, sourcedb, "
                                 "statesheet, module, parent, umd, text_control, text_panel)");
            }
            if (errors.size() != errorsBeforeKey && index >= 0) d.refusedKeys |= static_cast<uint16_t>(1u << index);
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

std::string folderOf(const std::string& path) { return std::filesystem::absolute(path).parent_path().string(); }

}  // namespace

namespace wall_reading {

bool full(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors,
          wall* readable) {
    const size_t errorsBefore = errors.size();
    toml::table table;
    try {
        // Without the path: each node would keep a shared copy of it, and
        // every place said is made with `path` here anyway.
        table = toml::parse(text);
    } catch (const toml::parse_error& e) {
        errors.push_back(where(path, e.source()) + std::string(e.description()));
        return false;
    }
    wall result;
    table_reading reading;
    readTable(table, path, folderOf(path), result, reading, errors);
    if (errors.size() != errorsBefore) {
        sortErrorsByPlace(errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), errors.end(), path);
        if (readable) *readable = std::move(result);
        return false;
    }
    out = std::move(result);
    return true;
}

bool quick(const std::string& text, const std::string& path, wall& out) {
    const std::string folder = folderOf(path);
    std::optional<quick_displays> quick =
        readDisplaysQuickly(text, std::make_shared<const std::string>(path), folder);
    if (!quick) return false;
    wall result;
    table_reading reading;
    if (!quick->rest.empty()) {
        toml::table table;
        try {
            table = toml::parse(quick->rest);
        } catch (const toml::parse_error&) {
            return false;
        }
        std::vector<std::string> errors;
        readTable(table, path, folder, result, reading, errors);
        if (!errors.empty()) return false;
    }
    // The quick displays' screens, once [umd] is read.
    const bool restScreens = !result.umd.displays.empty();
    for (const quick_displays::umd_index& u : quick->umd) {
        const wall_display::place& p = quick->displays[u.display].places[wall_display::keyIndex("umd")];
        const toml::source_region where{{p.line, p.column}, {p.line, p.column}, nullptr};
        if (!addDisplayIndex(quick->displays[u.display].name, u.index, reading.defaults, result.umd, reading.places,
                             where))
            return false;
    }
    if (!result.displays.empty()) {
        // The two lists, each in file order, as one; a name the quick
        // reading took is the full reading's error.
        std::unordered_set<std::string_view> quickNames;
        for (const wall_display& d : quick->displays) quickNames.insert(d.name);
        for (const wall_display& d : result.displays)
            if (quickNames.count(d.name)) return false;
        std::vector<wall_display> both;
        both.reserve(quick->displays.size() + result.displays.size());
        std::merge(std::make_move_iterator(quick->displays.begin()), std::make_move_iterator(quick->displays.end()),
                   std::make_move_iterator(result.displays.begin()), std::make_move_iterator(result.displays.end()),
                   std::back_inserter(both), [](const wall_display& a, const wall_display& b) {
                       return a.places[0].line < b.places[0].line;
                   });
        quick->displays = std::move(both);
    }
    if (restScreens && !quick->umd.empty()) {
        // Each reading's screens in its own order: the two as the file has them.
        std::unordered_map<std::string_view, size_t> order;
        for (const wall_display& d : quick->displays) order.emplace(d.name, order.size());
        std::stable_sort(result.umd.displays.begin(), result.umd.displays.end(),
                         [&order](const umd_display& a, const umd_display& b) { return order[a.name] < order[b.name]; });
    }
    result.displays = std::move(quick->displays);
    out = std::move(result);
    return true;
}

}  // namespace wall_reading

bool parseWall(const std::string& text, const std::string& path, wall& out, std::vector<std::string>& errors,
               wall* readable) {
    return wall_reading::quick(text, path, out) || wall_reading::full(text, path, out, errors, readable);
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
    // In large reads: a wall of a hundred thousand displays is some
    // megabytes. (A pipe has no size to make room for.)
    std::string text;
    if (const std::uintmax_t size = std::filesystem::file_size(path, ignored); !ignored) text.reserve(size);
    std::array<char, 1 << 16> chunk;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0)
        text.append(chunk.data(), static_cast<size_t>(in.gcount()));
    if (in.bad()) {
        errors.push_back(path + ": cannot be read: " + std::strerror(errno));
        return false;
    }
    return parseWall(text, path, out, errors, readable);
}

}  // namespace quon
