#include "wall_tally.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>

#include "quon/common/endpoint.h"
#include "quon/screens/screen_protocol.h"
#include "quon/screens/tsl31/tsl31_protocol.h"
#include "quon/screens/tsl5/tsl5_protocol.h"
#include "wall_toml.h"

namespace quon {

namespace {

using tally::tally_input_config;
using tally::tally_wire;

// "line:column" of a place "path:line:column: ".
std::string lineAndColumn(const std::string& place, const std::string& path) {
    return place.substr(path.size() + 1, place.size() - path.size() - 3);
}

constexpr const char* listen_forms =
    "tsl5+udp://address:port, tsl5+tcp://address:port or tsl31+udp://address:port (a numeric address)";

// `listen`: a screen protocol's scheme (the screens' own table), a numeric
// address to bind and a port (0: any free one).
bool readListen(const toml::node& node, tally_input_config& input, const std::string& path,
                std::vector<std::string>& errors) {
    const auto text = textAt(node, "listen", path, errors);
    if (!text) return false;
    const auto refuse = [&](const std::string& why) {
        errors.push_back(where(path, node.source()) + "`listen` = \"" + *text + "\" " + why);
        return false;
    };
    const size_t separator = text->find("://");
    const screen_protocol* protocol = nullptr;
    umd_transport transport = umd_transport::udp;
    if (separator != std::string::npos)
        for (const screen_protocol* candidate : screenProtocols())
            for (const screen_scheme& scheme : candidate->schemes)
                if (separator == std::strlen(scheme.text) && text->compare(0, separator, scheme.text) == 0) {
                    protocol = candidate;
                    transport = scheme.transport;
                }
    if (!protocol || (protocol != &tsl5_protocol && protocol != &tsl31_protocol))
        return refuse(std::string("is not ") + listen_forms);
    endpoint_text at;
    std::string why;
    if (!parseEndpoint(text->substr(separator + 3), at, why)) return refuse(std::string("is not ") + listen_forms + ": " + why);
    boost::system::error_code error;
    boost::asio::ip::make_address(at.host, error);
    if (at.host.empty() || error || !at.port) return refuse(std::string("is not ") + listen_forms);
    input.wire = protocol == &tsl31_protocol    ? tally_wire::tsl31_udp
                 : transport == umd_transport::tcp ? tally_wire::tsl5_tcp
                                                  : tally_wire::tsl5_udp;
    input.address = at.host;
    input.port = *at.port;
    return true;
}

// `program` / `preview`: TSL 5 a colour, TSL 3.1 a tally number.
std::optional<int> meaningAt(const toml::node& node, const std::string& key, bool tsl31, const std::string& path,
                             std::vector<std::string>& errors) {
    const auto text = textAt(node, key, path, errors);
    if (!text) return std::nullopt;
    if (tsl31) {
        if (text->size() == 1 && (*text)[0] >= '1' && (*text)[0] <= '4') return (*text)[0] - '0';
        errors.push_back(where(path, node.source()) + "`" + key + "` = \"" + *text +
                         "\" is not a TSL 3.1 tally number (\"1\" to \"4\")");
        return std::nullopt;
    }
    const char* const colours[] = {"red", "green", "amber"};
    for (int colour = 1; colour <= 3; ++colour)
        if (*text == colours[colour - 1]) return colour;
    errors.push_back(where(path, node.source()) + "`" + key + "` = \"" + *text +
                     "\" is not a TSL 5 tally colour (red, green or amber)");
    return std::nullopt;
}

// The highest index the sender can send: TSL 5 any but the broadcast,
// TSL 3.1 its 127 addresses, counted from `address_base`.
int maxIndex(const tally_input_config& input) { return input.tsl31() ? 126 + input.addressBase : 65534; }

void readMap(const toml::table& t, tally_input_config& input, std::map<int, std::string>& mapped,
             const std::string& path, std::vector<std::string>& errors) {
    const size_t errorsBefore = errors.size();
    tally::tally_map map;
    map.where[""] = where(path, t.source());
    const toml::node* indexNode = nullptr;
    const toml::node* countNode = nullptr;
    std::optional<int> matrix, destination, source;
    for (const auto& [key, node] : t) {
        const std::string k(key.str());
        map.where[k] = where(path, node.source());
        if (k == "index") {
            indexNode = &node;
        } else if (k == "count") {
            countNode = &node;
        } else if (k == "matrix") {
            matrix = integerAt(node, k, 1, 999, path, errors);
        } else if (k == "destination") {
            destination = integerAt(node, k, 1, 65536, path, errors);
        } else if (k == "source") {
            source = integerAt(node, k, 1, 65536, path, errors);
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + k +
                             "` in [[tally_in.map]] (index, count, matrix, destination, source)");
        }
    }
    std::optional<int> index, count = 1;
    if (indexNode) index = integerAt(*indexNode, "index", input.tsl31() ? input.addressBase : 0, maxIndex(input), path, errors);
    if (countNode) count = integerAt(*countNode, "count", 1, 65535, path, errors);
    if (!indexNode) errors.push_back(map.where[""] + "a [[tally_in.map]] needs an `index`");
    if (!t.contains("matrix")) errors.push_back(map.where[""] + "a [[tally_in.map]] needs a `matrix`");
    if (t.contains("destination") == t.contains("source"))
        errors.push_back(map.where[""] + "a [[tally_in.map]] needs either a `destination` or a `source`");
    if (errors.size() != errorsBefore || !index || !count || !matrix) return;
    map.index = *index;
    map.count = *count;
    map.first.matrix = *matrix;
    map.first.kind = destination ? tally::point::end::destination : tally::point::end::source;
    map.first.number = destination ? *destination : *source;
    const std::string& countAt = countNode ? map.where["count"] : map.where["index"];
    if (map.index + map.count - 1 > maxIndex(input)) {
        errors.push_back(countAt + "indices " + std::to_string(map.index) + " to " +
                         std::to_string(map.index + map.count - 1) + " run past " + std::to_string(maxIndex(input)) +
                         ", the sender's last");
        return;
    }
    if (map.first.number + map.count - 1 > 65536) {
        errors.push_back(countAt + "the points from " + std::to_string(map.first.number) + " on run past 65536");
        return;
    }
    for (int i = map.index; i < map.index + map.count; ++i) {
        const auto [first, added] = mapped.emplace(i, map.where["index"]);
        if (!added) {
            errors.push_back(map.where["index"] + "index " + std::to_string(i) + " of tally input \"" + input.name +
                             "\" is mapped twice (first at " + lineAndColumn(first->second, path) + ")");
            return;
        }
    }
    input.maps.push_back(std::move(map));
}

// A [[tally_in.output]] as written, resolved once every input is read.
struct written_output {
    tally::output output;       // feeds a router source, or (intoMixer) the output point
    std::string intoMixer;      // the mixer whose input it is; empty: a router source
    int index = 0;              // that mixer's index
    std::map<std::string, std::string> where;  // of each key, and of the table under ""
};

const std::pair<const char*, tally::buses> bus_names[] = {
    {"program", tally::program_bus}, {"preview", tally::preview_bus}, {"iso", tally::iso_bus}};

void readOutput(const toml::table& t, const std::string& mixer, std::vector<written_output>& out,
                const std::string& path, std::vector<std::string>& errors) {
    const size_t errorsBefore = errors.size();
    written_output o;
    o.output.mixer = mixer;
    o.where[""] = where(path, t.source());
    std::optional<int> matrix, source, index;
    for (const auto& [key, node] : t) {
        const std::string k(key.str());
        o.where[k] = where(path, node.source());
        if (k == "bus") {
            const auto text = textAt(node, k, path, errors);
            if (!text) continue;
            const auto found = std::find_if(std::begin(bus_names), std::end(bus_names),
                                            [&](const auto& b) { return *text == b.first; });
            if (found == std::end(bus_names))
                errors.push_back(where(path, node.source()) + "`bus` = \"" + *text +
                                 "\" is not \"program\", \"preview\" or \"iso\"");
            else
                o.output.bus = found->second;
        } else if (k == "matrix") {
            matrix = integerAt(node, k, 1, 999, path, errors);
        } else if (k == "source") {
            source = integerAt(node, k, 1, 65536, path, errors);
        } else if (k == "mixer") {
            if (const auto text = textAt(node, k, path, errors)) o.intoMixer = *text;
        } else if (k == "index") {
            index = integerAt(node, k, 0, 65534, path, errors);
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + k +
                             "` in [[tally_in.output]] (bus, matrix, source, mixer, index)");
        }
    }
    const bool routed = t.contains("matrix") || t.contains("source");
    const bool mixed = t.contains("mixer") || t.contains("index");
    if (routed == mixed || (routed && !(t.contains("matrix") && t.contains("source"))) ||
        (mixed && !(t.contains("mixer") && t.contains("index"))))
        errors.push_back(o.where[""] +
                         "a [[tally_in.output]] needs either `matrix` and `source` (the router source it feeds) or "
                         "`mixer` and `index` (the other mixer's input it is)");
    if (errors.size() != errorsBefore) return;
    if (routed) {
        o.output.feeds = {*matrix, tally::point::end::source, *source};
    } else {
        o.index = *index;
        o.output.feeds = tally::outputPoint(mixer, o.output.bus);
    }
    out.push_back(std::move(o));
}

void readInput(const toml::table& t, std::vector<tally_input_config>& out, std::set<std::string>& names,
               std::map<std::tuple<bool, std::string, uint16_t>, std::string>& listens,
               std::vector<written_output>& outputs, const std::string& path, std::vector<std::string>& errors) {
    const size_t errorsBefore = errors.size();
    tally_input_config input;
    input.where[""] = where(path, t.source());
    bool listening = false;
    for (const auto& [key, node] : t) {
        const std::string k(key.str());
        input.where[k] = where(path, node.source());
        if (k == "name") {
            if (const auto v = textAt(node, k, path, errors)) {
                input.name = *v;
                if (v->empty() || v->find_first_of(" \t\r\n") != std::string::npos)
                    errors.push_back(where(path, node.source()) + "a tally input's name is one word");
                else if (!names.insert(*v).second)
                    errors.push_back(where(path, node.source()) + "tally input \"" + *v + "\" named twice");
            }
        } else if (k == "listen") {
            listening = readListen(node, input, path, errors);
        } else if (k == "timeout") {
            if (const auto timeout = durationAt(node, k, true, path, errors)) input.timeout = *timeout;
        } else if (k == "on_loss") {
            const auto text = textAt(node, k, path, errors);
            if (text && *text != "hold" && *text != "clear")
                errors.push_back(where(path, node.source()) + "`on_loss` = \"" + *text + "\" is not \"hold\" or \"clear\"");
            else if (text)
                input.clearOnLoss = *text == "clear";
        } else if (k != "screen" && k != "program" && k != "preview" && k != "iso" && k != "address_base" &&
                   k != "map" && k != "output") {
            errors.push_back(where(path, key.source()) + "unknown key `" + k +
                             "` in [[tally_in]] (name, listen, screen, timeout, on_loss, program, preview, iso, "
                             "address_base, map, output)");
        }
    }
    if (!t.contains("name")) errors.push_back(input.where[""] + "a [[tally_in]] needs a `name`");
    if (!t.contains("listen"))
        errors.push_back(input.where[""] + "a [[tally_in]] needs `listen`, e.g. \"tsl5+udp://192.0.2.1:8910\"");
    std::map<int, std::string> mapped;
    const auto readMaps = [&](tally_input_config& into) {
        const toml::node* node = t.get("map");
        if (!node) return;
        const toml::array* list = node->as_array();
        if (!list || !list->is_array_of_tables())
            errors.push_back(where(path, node->source()) + "`map` is a list of tables: [[tally_in.map]]");
        else
            for (const toml::node& entry : *list) readMap(*entry.as_table(), into, mapped, path, errors);
    };
    if (!listening) {
        // The rest depends on the protocol; the maps are still read with
        // the widest limits (TSL 5's), so that their errors are said now.
        tally_input_config widest = input;
        widest.wire = tally_wire::tsl5_udp;
        readMaps(widest);
        return;
    }
    const char* const protocol = input.tsl31() ? "TSL 3.1" : "TSL 5";
    if (const toml::node* node = t.get("screen")) {
        if (input.tsl31())
            errors.push_back(where(path, node->source()) + "`screen` is for TSL 5 only");
        else if (const auto screen = integerAt(*node, "screen", 0, 65534, path, errors))
            input.screen = static_cast<uint16_t>(*screen);
    }
    if (const toml::node* node = t.get("address_base")) {
        if (!input.tsl31())
            errors.push_back(where(path, node->source()) + "`address_base` is for TSL 3.1 only");
        else if (const auto base = integerAt(*node, "address_base", 0, 1, path, errors))
            input.addressBase = *base;
    }
    if (const toml::node* node = t.get("program"))
        if (const auto v = meaningAt(*node, "program", input.tsl31(), path, errors)) input.program = *v;
    if (const toml::node* node = t.get("preview"))
        if (const auto v = meaningAt(*node, "preview", input.tsl31(), path, errors)) input.preview = *v;
    if (const toml::node* node = t.get("iso"))
        if (const auto v = meaningAt(*node, "iso", input.tsl31(), path, errors)) input.iso = *v;
    const char* const what = input.tsl31() ? " tally" : " colour";
    if (input.program == input.preview)
        errors.push_back(input.at("preview") + "`program` and `preview` are the same " + protocol + what);
    const std::pair<const char*, int> others[] = {{"program", input.program}, {"preview", input.preview}};
    for (const auto& [other, meaning] : others)
        if (input.iso != 0 && input.iso == meaning)
            errors.push_back(input.at("iso") + "`iso` and `" + other + "` are the same " + protocol + what);
    if (const toml::node* node = t.get("output")) {
        const toml::array* list = node->as_array();
        if (!list || !list->is_array_of_tables())
            errors.push_back(where(path, node->source()) + "`output` is a list of tables: [[tally_in.output]]");
        else
            for (const toml::node& entry : *list) readOutput(*entry.as_table(), input.name, outputs, path, errors);
    }
    const auto [first, added] = listens.emplace(
        std::make_tuple(input.wire == tally_wire::tsl5_tcp, input.address, input.port), input.name);
    if (!added && input.port != 0)
        errors.push_back(input.at("listen") + "tally input \"" + input.name + "\" listens where \"" + first->second +
                         "\" does");
    readMaps(input);
    if (errors.size() == errorsBefore) out.push_back(std::move(input));
}

}  // namespace

void readTallyInputs(const toml::node& node, std::vector<tally_input_config>& out, tally::cascade& cascade,
                     std::vector<std::map<std::string, std::string>>& cascadeWhere, const std::string& path,
                     std::vector<std::string>& errors) {
    const toml::array* list = node.as_array();
    if (!list || !list->is_array_of_tables()) {
        errors.push_back(where(path, node.source()) + "`tally_in` is a list of tables: [[tally_in]]");
        return;
    }
    std::set<std::string> names;
    std::map<std::tuple<bool, std::string, uint16_t>, std::string> listens;
    std::vector<written_output> outputs;
    for (const toml::node& entry : *list) readInput(*entry.as_table(), out, names, listens, outputs, path, errors);
    // An output into another mixer is that mixer's index standing for it;
    // one into a router source is the cascade's.
    std::map<std::pair<int, int>, std::string> fed;  // router sources fed by an output
    for (written_output& o : outputs) {
        if (o.intoMixer.empty()) {
            const tally::point& s = o.output.feeds;
            const auto [first, added] = fed.emplace(std::make_pair(s.matrix, s.number), o.where.at("source"));
            if (!added) {
                errors.push_back(o.where.at("source") + "source " + std::to_string(s.number) + " of matrix " +
                                 std::to_string(s.matrix) + " is fed by two outputs (first at " +
                                 lineAndColumn(first->second, path) + ")");
                continue;
            }
            cascade.outputs.push_back(o.output);
            cascadeWhere.push_back(std::move(o.where));
            continue;
        }
        const auto into = std::find_if(out.begin(), out.end(),
                                       [&](const tally_input_config& i) { return i.name == o.intoMixer; });
        if (o.intoMixer == o.output.mixer) {
            errors.push_back(o.where.at("mixer") + "tally input \"" + o.output.mixer + "\" feeds its own input");
            continue;
        }
        if (into == out.end()) {
            // An input refused above is said there; one never written, here.
            if (!names.count(o.intoMixer))
                errors.push_back(o.where.at("mixer") + "`mixer` = \"" + o.intoMixer + "\" is no [[tally_in]]");
            continue;
        }
        if (o.index < (into->tsl31() ? into->addressBase : 0) || o.index > maxIndex(*into)) {
            errors.push_back(o.where.at("index") + "index " + std::to_string(o.index) + " is not one of tally input \"" +
                             into->name + "\"'s (" + std::to_string(into->tsl31() ? into->addressBase : 0) + " to " +
                             std::to_string(maxIndex(*into)) + ")");
            continue;
        }
        const auto taken = std::find_if(into->maps.begin(), into->maps.end(), [&](const tally::tally_map& m) {
            return o.index >= m.index && o.index < m.index + m.count;
        });
        if (taken != into->maps.end()) {
            errors.push_back(o.where.at("index") + "index " + std::to_string(o.index) + " of tally input \"" +
                             into->name + "\" is mapped twice (first at " +
                             lineAndColumn(taken->where.at("index"), path) + ")");
            continue;
        }
        tally::tally_map map;
        map.index = o.index;
        map.first = o.output.feeds;
        map.where = o.where;
        into->maps.push_back(std::move(map));
        cascade.outputs.push_back(o.output);
        cascadeWhere.push_back(std::move(o.where));
    }
}

void readOnAir(const toml::node& node, const std::vector<tally_input_config>& inputs, tally::on_air& out,
               std::vector<std::map<std::string, std::string>>& whereOut, const std::string& path,
               std::vector<std::string>& errors) {
    const toml::array* list = node.as_array();
    if (!list || !list->is_array_of_tables()) {
        errors.push_back(where(path, node.source()) + "`on_air` is a list of tables: [[on_air]]");
        return;
    }
    for (const toml::node& entry : *list) {
        const toml::table& t = *entry.as_table();
        const size_t errorsBefore = errors.size();
        std::map<std::string, std::string> places{{"", where(path, t.source())}};
        std::optional<int> matrix, destination;
        std::optional<std::string> mixer;
        for (const auto& [key, value] : t) {
            const std::string k(key.str());
            places[k] = where(path, value.source());
            if (k == "mixer")
                mixer = textAt(value, k, path, errors);
            else if (k == "matrix")
                matrix = integerAt(value, k, 1, 999, path, errors);
            else if (k == "destination")
                destination = integerAt(value, k, 1, 65536, path, errors);
            else
                errors.push_back(where(path, key.source()) + "unknown key `" + k +
                                 "` in [[on_air]] (mixer, matrix, destination)");
        }
        const bool routed = t.contains("matrix") && t.contains("destination");
        if (t.contains("mixer") == (t.contains("matrix") || t.contains("destination")) ||
            (!t.contains("mixer") && !routed))
            errors.push_back(places[""] +
                             "an [[on_air]] needs either `mixer` (the transmission mixer) or `matrix` and "
                             "`destination` (the station's output)");
        if (errors.size() != errorsBefore) continue;
        if (mixer) {
            if (std::none_of(inputs.begin(), inputs.end(), [&](const tally_input_config& i) { return i.name == *mixer; }))
                errors.push_back(places["mixer"] + "`mixer` = \"" + *mixer + "\" is no [[tally_in]]");
            else
                out.mixers.push_back(*mixer);
            continue;
        }
        out.destinations.push_back({*matrix, tally::point::end::destination, *destination});
        whereOut.push_back(std::move(places));
    }
}

void readTies(const toml::node& node, std::vector<tally::tie>& out,
              std::vector<std::map<std::string, std::string>>& whereOut, const std::string& path,
              std::vector<std::string>& errors) {
    const toml::array* list = node.as_array();
    if (!list || !list->is_array_of_tables()) {
        errors.push_back(where(path, node.source()) + "`tie` is a list of tables: [[tie]]");
        return;
    }
    std::map<std::pair<int, int>, std::string> fromTaken, toTaken;
    for (const toml::node& entry : *list) {
        const toml::table& t = *entry.as_table();
        const size_t errorsBefore = errors.size();
        std::map<std::string, std::string> places{{"", where(path, t.source())}};
        // `from` = { matrix, destination }, `to` = { matrix, source }.
        const auto end = [&](const char* side, const char* number, int& matrixOut, int& numberOut) {
            const toml::node* sideNode = t.get(side);
            const toml::table* table = sideNode ? sideNode->as_table() : nullptr;
            const std::string example = std::string("`") + side + "` = { matrix = 1, " + number + " = 1 }";
            if (!table) {
                errors.push_back((sideNode ? where(path, sideNode->source()) : places[""]) + "a [[tie]] needs " + example);
                return;
            }
            for (const auto& [key, value] : *table) {
                const std::string k(key.str());
                places[std::string(side) + "." + k] = where(path, value.source());
                if (k == "matrix") {
                    if (const auto v = integerAt(value, k, 1, 999, path, errors)) matrixOut = *v;
                } else if (k == number) {
                    if (const auto v = integerAt(value, k, 1, 65536, path, errors)) numberOut = *v;
                } else {
                    errors.push_back(where(path, key.source()) + "unknown key `" + k + "` in `" + side +
                                     "` of [[tie]] (matrix, " + number + ")");
                }
            }
            if (!table->contains("matrix") || !table->contains(number))
                errors.push_back(where(path, table->source()) + "a [[tie]] needs " + example);
        };
        tally::tie tie;
        end("from", "destination", tie.fromMatrix, tie.fromDestination);
        end("to", "source", tie.toMatrix, tie.toSource);
        for (const auto& [key, value] : t) {
            const std::string k(key.str());
            if (k != "from" && k != "to")
                errors.push_back(where(path, key.source()) + "unknown key `" + k + "` in [[tie]] (from, to)");
        }
        if (errors.size() != errorsBefore) continue;
        const auto taken = [&](std::map<std::pair<int, int>, std::string>& seen, std::pair<int, int> at,
                               const std::string& place, const std::string& what) {
            const auto [first, added] = seen.emplace(at, place);
            if (!added)
                errors.push_back(place + what + " (first at " +
                                 lineAndColumn(first->second, path) + ")");
            return !added;
        };
        const std::string fromWhat = "destination " + std::to_string(tie.fromDestination) + " of matrix " +
                                     std::to_string(tie.fromMatrix) + " is tied twice";
        const std::string toWhat = "source " + std::to_string(tie.toSource) + " of matrix " +
                                   std::to_string(tie.toMatrix) + " is fed by two ties";
        const bool twiceFrom = taken(fromTaken, {tie.fromMatrix, tie.fromDestination}, places["from.destination"], fromWhat);
        const bool twiceTo = taken(toTaken, {tie.toMatrix, tie.toSource}, places["to.source"], toWhat);
        if (twiceFrom || twiceTo) continue;
        out.push_back(tie);
        whereOut.push_back(std::move(places));
    }
}

}  // namespace quon
