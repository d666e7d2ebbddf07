#include "quon/umd/umd_config.h"

#include <cctype>
#include <optional>
#include <sstream>

namespace {

struct scheme_name {
    const char* text;
    umd_protocol protocol;
    umd_transport transport;
};
constexpr scheme_name kSchemes[] = {
    {"tsl5+udp", umd_protocol::tsl5, umd_transport::udp},
    {"tsl5+tcp", umd_protocol::tsl5, umd_transport::tcp},
    {"tsl31+udp", umd_protocol::tsl31, umd_transport::udp},
};

bool isHostCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'; }

bool parseDecimal(const std::string& digits, size_t maxDigits, uint64_t& out) {
    if (digits.empty() || digits.size() > maxDigits) return false;
    out = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

constexpr uint16_t kTsl5MaxIndex = 65534;   // 0xFFFF addresses every display
constexpr uint16_t kTsl5MaxScreen = 65534;  // 0xFFFF addresses every screen
constexpr uint16_t kTsl31MaxAddress = 126;

// Collects errors, each placed in the file.
class error_list {
public:
    error_list(const std::string& file, std::vector<std::string>& errors) : file_(file), errors_(errors) {}

    void add(const toml::source_region& where, const std::string& what) {
        std::ostringstream text;
        text << file_ << ':' << where.begin.line << ':' << where.begin.column << ": " << what;
        errors_.push_back(text.str());
        ++count_;
    }
    size_t count() const { return count_; }

private:
    const std::string& file_;
    std::vector<std::string>& errors_;
    size_t count_ = 0;
};

std::string place(const toml::source_region& where) {
    return std::to_string(where.begin.line) + ":" + std::to_string(where.begin.column);
}

std::optional<std::string> stringValue(const toml::node& node, const std::string& key, error_list& errors) {
    if (const auto* value = node.as_string()) return value->get();
    errors.add(node.source(), "`" + key + "` must be a string");
    return std::nullopt;
}

std::optional<int64_t> integerValue(const toml::node& node, const std::string& key, int64_t min, int64_t max,
                                    error_list& errors) {
    const auto* value = node.as_integer();
    if (!value) {
        errors.add(node.source(), "`" + key + "` must be an integer");
        return std::nullopt;
    }
    if (value->get() < min || value->get() > max) {
        errors.add(node.source(), "`" + key + "` is " + std::to_string(value->get()) + ", not " + std::to_string(min) +
                                      " to " + std::to_string(max));
        return std::nullopt;
    }
    return value->get();
}

std::optional<bool> booleanValue(const toml::node& node, const std::string& key, error_list& errors) {
    if (const auto* value = node.as_boolean()) return value->get();
    errors.add(node.source(), "`" + key + "` must be true or false");
    return std::nullopt;
}

std::optional<umd_destination> destinationValue(const toml::node& node, error_list& errors) {
    const auto text = stringValue(node, "to", errors);
    if (!text) return std::nullopt;
    umd_destination destination;
    if (parseUmdDestination(*text, destination)) return destination;
    errors.add(node.source(),
               "`to` = \"" + *text + "\" is not tsl5+udp://host:port, tsl5+tcp://host:port or tsl31+udp://host:port");
    return std::nullopt;
}

std::optional<lamp_colour> colourValue(const toml::node& node, const std::string& key, error_list& errors) {
    const auto text = stringValue(node, key, errors);
    if (!text) return std::nullopt;
    if (*text == "off") return lamp_colour::off;
    if (*text == "red") return lamp_colour::red;
    if (*text == "green") return lamp_colour::green;
    if (*text == "amber") return lamp_colour::amber;
    errors.add(node.source(), "`" + key + "` = \"" + *text + "\" is not a colour (off, red, green or amber)");
    return std::nullopt;
}

void readTally31(const toml::node& node, tsl31_tally_map& out, error_list& errors) {
    const auto* array = node.as_array();
    if (!array || array->size() != out.size()) {
        errors.add(node.source(), "`tally31` must list 4 lamps, e.g. [\"left\", \"text\", \"right\", \"\"]");
        return;
    }
    for (size_t i = 0; i < out.size(); ++i) {
        const auto text = stringValue(*array->get(i), "tally31", errors);
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
            errors.add(array->get(i)->source(),
                       "`tally31` lamp \"" + *text + "\" is not \"left\", \"text\", \"right\" or \"\"");
        }
    }
}

struct umd_defaults {
    std::optional<umd_destination> to;
    uint16_t screen = 0;
};

void readUmdTable(const toml::table& table, umd_config& config, umd_defaults& defaults, error_list& errors) {
    for (auto&& [key, node] : table) {
        const std::string name(key.str());
        if (name == "to") {
            defaults.to = destinationValue(node, errors);
        } else if (name == "screen") {
            if (auto screen = integerValue(node, name, 0, kTsl5MaxScreen, errors)) {
                defaults.screen = static_cast<uint16_t>(*screen);
            }
        } else if (name == "refresh") {
            if (const auto text = stringValue(node, name, errors)) {
                if (!parseUmdDuration(*text, config.refresh)) {
                    errors.add(node.source(),
                               "`refresh` = \"" + *text + "\" is not a duration (\"500ms\", \"5s\", \"2m\")");
                }
            }
        } else if (name == "batch") {
            if (auto value = booleanValue(node, name, errors)) config.batch = *value;
        } else if (name == "blank_on_exit") {
            if (auto value = booleanValue(node, name, errors)) config.blank_on_exit = *value;
        } else if (name == "tally31") {
            readTally31(node, config.tally31, errors);
        } else {
            errors.add(key.source(), "unknown key `" + name + "` in [umd]");
        }
    }
}

void readTallies(const toml::table& tallies, umd_config& config, error_list& errors) {
    for (auto&& [sheet, node] : tallies) {
        const std::string sheetName(sheet.str());
        const auto* table = node.as_table();
        if (!table) {
            errors.add(node.source(), "[tally." + sheetName + "] must be a table");
            continue;
        }
        tally_lamps lamps;
        for (auto&& [key, value] : *table) {
            const std::string name(key.str());
            if (name == "left" || name == "text" || name == "right") {
                if (auto colour = colourValue(value, name, errors)) {
                    (name == "left" ? lamps.left : name == "text" ? lamps.text : lamps.right) = *colour;
                }
            } else if (name == "brightness") {
                if (auto brightness = integerValue(value, name, 0, 3, errors)) {
                    lamps.brightness = static_cast<uint8_t>(*brightness);
                }
            } else {
                errors.add(key.source(), "unknown key `" + name + "` in [tally." + sheetName + "]");
            }
        }
        config.tallies[sheetName] = lamps;
    }
}

// Where a display sits, to find an index used twice.
using display_slot = std::tuple<umd_destination, uint16_t, uint16_t>;

void readDisplay(const toml::table& display, const umd_defaults& defaults, umd_config& config,
                 std::map<display_slot, toml::source_region>& slots, std::map<std::string, toml::source_region>& names,
                 error_list& errors) {
    const toml::node* umdNode = display.get("umd");
    if (!umdNode) return;
    const auto* umd = umdNode->as_table();
    if (!umd) {
        errors.add(umdNode->source(), "`umd` must be a table, e.g. { index = 1 }");
        return;
    }
    const size_t errorsBefore = errors.count();
    umd_display out;
    const toml::node* nameNode = display.get("name");
    if (!nameNode) {
        errors.add(display.source(), "a display with `umd` needs a `name`");
    } else if (const auto name = stringValue(*nameNode, "name", errors)) {
        out.name = *name;
        const auto [first, added] = names.emplace(out.name, nameNode->source());
        if (!added) {
            errors.add(nameNode->source(),
                       "display \"" + out.name + "\" is named twice (first at " + place(first->second) + ")");
        }
    }

    std::optional<umd_destination> to = defaults.to;
    const toml::node* indexNode = nullptr;
    const toml::node* screenNode = nullptr;
    for (auto&& [key, value] : *umd) {
        const std::string name(key.str());
        if (name == "to") {
            to = destinationValue(value, errors);
            if (!to) return;
        } else if (name == "index") {
            indexNode = &value;
        } else if (name == "screen") {
            screenNode = &value;
        } else {
            errors.add(key.source(), "unknown key `" + name + "` in `umd` of display \"" + out.name + "\"");
        }
    }
    if (!to) {
        errors.add(umd->source(), "no `to` for display \"" + out.name + "\", here or in [umd]");
        return;
    }
    out.to = *to;
    const bool tsl5 = out.to.protocol == umd_protocol::tsl5;
    out.screen = tsl5 ? defaults.screen : 0;
    if (screenNode) {
        if (!tsl5) {
            errors.add(screenNode->source(), "`screen` is for TSL 5 only");
        } else if (auto screen = integerValue(*screenNode, "screen", 0, kTsl5MaxScreen, errors)) {
            out.screen = static_cast<uint16_t>(*screen);
        }
    }
    if (!indexNode) {
        errors.add(umd->source(), "no `index` for display \"" + out.name + "\"");
        return;
    }
    const auto index = integerValue(*indexNode, "index", 0, tsl5 ? kTsl5MaxIndex : kTsl31MaxAddress, errors);
    if (!index) return;
    out.index = static_cast<uint16_t>(*index);
    if (errors.count() != errorsBefore) return;

    const auto [first, added] = slots.emplace(display_slot{out.to, out.screen, out.index}, indexNode->source());
    if (!added) {
        std::string where = umdDestinationText(out.to);
        if (tsl5) where = "screen " + std::to_string(out.screen) + " of " + where;
        errors.add(indexNode->source(), std::string(tsl5 ? "index " : "address ") + std::to_string(out.index) +
                                            " is used twice on " + where + " (first at " + place(first->second) + ")");
        return;
    }
    config.displays.push_back(std::move(out));
}

}  // namespace

bool parseUmdDestination(const std::string& text, umd_destination& out) {
    const size_t separator = text.find("://");
    if (separator == std::string::npos) return false;
    const std::string scheme = text.substr(0, separator);
    const scheme_name* known = nullptr;
    for (const auto& candidate : kSchemes) {
        if (scheme == candidate.text) known = &candidate;
    }
    if (!known) return false;

    const std::string rest = text.substr(separator + 3);
    std::string host;
    size_t portStart = 0;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
        host = rest.substr(1, close - 1);
        if (host.empty()) return false;
        for (const char c : host) {
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        }
        portStart = close + 2;
    } else {
        const size_t colon = rest.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        host = rest.substr(0, colon);
        for (const char c : host) {
            if (!isHostCharacter(c)) return false;
        }
        portStart = colon + 1;
    }
    uint64_t port = 0;
    if (!parseDecimal(rest.substr(portStart), 5, port) || port == 0 || port > 65535) return false;

    out.protocol = known->protocol;
    out.transport = known->transport;
    out.host = host;
    out.port = static_cast<uint16_t>(port);
    return true;
}

std::string umdDestinationText(const umd_destination& destination) {
    std::string text;
    for (const auto& scheme : kSchemes) {
        if (scheme.protocol == destination.protocol && scheme.transport == destination.transport) text = scheme.text;
    }
    text += "://";
    const bool ipv6 = destination.host.find(':') != std::string::npos;
    text += ipv6 ? "[" + destination.host + "]" : destination.host;
    return text + ":" + std::to_string(destination.port);
}

bool parseUmdDuration(const std::string& text, std::chrono::milliseconds& out) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    uint64_t count = 0;
    if (!parseDecimal(text.substr(0, digits), 9, count)) return false;
    const std::string unit = text.substr(digits);
    if (unit == "ms") {
        out = std::chrono::milliseconds(count);
    } else if (unit == "s") {
        out = std::chrono::seconds(count);
    } else if (unit == "m") {
        out = std::chrono::minutes(count);
    } else {
        return false;
    }
    return true;
}

tally_lamps umd_config::lampsFor(const std::string& statesheet) const {
    const auto found = tallies.find(statesheet);
    return found == tallies.end() ? tally_lamps{} : found->second;
}

bool readUmdConfig(const toml::table& wall, const std::string& file, umd_config& out,
                   std::vector<std::string>& errors) {
    error_list list(file, errors);
    umd_config config;
    umd_defaults defaults;
    if (const toml::node* node = wall.get("umd")) {
        if (const auto* table = node->as_table()) {
            readUmdTable(*table, config, defaults, list);
        } else {
            list.add(node->source(), "`umd` must be a table");
        }
    }
    if (const toml::node* node = wall.get("tally")) {
        if (const auto* table = node->as_table()) {
            readTallies(*table, config, list);
        } else {
            list.add(node->source(), "`tally` must be a table of state sheets");
        }
    }
    if (const toml::node* node = wall.get("display")) {
        std::map<display_slot, toml::source_region> slots;
        std::map<std::string, toml::source_region> names;
        if (const auto* displays = node->as_array()) {
            for (const toml::node& display : *displays) {
                if (const auto* table = display.as_table()) {
                    readDisplay(*table, defaults, config, slots, names, list);
                } else {
                    list.add(display.source(), "each [[display]] must be a table");
                }
            }
        } else {
            list.add(node->source(), "`display` must be an array of tables ([[display]])");
        }
    }
    if (list.count() != 0) return false;
    out = std::move(config);
    return true;
}
