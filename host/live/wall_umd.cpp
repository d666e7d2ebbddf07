#include "wall_umd.h"

#include <algorithm>

#include "quon/screens/screen_protocol.h"
#include "wall_toml.h"

namespace quon {

namespace {

// The UMD output's settings: [umd], [tally.NAME] and a display's `umd`.
// Limits are the screen protocols' own.

// The highest screen any protocol has, for [umd] `screen`.
long long maxScreen() {
    long long most = 0;
    for (const screen_protocol* protocol : screenProtocols())
        if (protocol->screens && protocol->maxScreen > most) most = protocol->maxScreen;
    return most;
}

// "TSL 5" or "TSL 5 and ..." : the protocols that have screens.
std::string protocolsWithScreens() {
    std::string names;
    for (const screen_protocol* protocol : screenProtocols())
        if (protocol->screens) names += (names.empty() ? "" : " and ") + std::string(protocol->name);
    return names;
}

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

// LAMP:COLOUR, e.g. "left:red"; "" (lamp none) where `none` allows it.
std::optional<tally_light> lightAt(const toml::node& node, const std::string& key, bool none, const std::string& path,
                                   std::vector<std::string>& errors) {
    const auto text = textAt(node, key, path, errors);
    if (!text) return std::nullopt;
    if (none && text->empty()) return tally_light{};
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
        errors.push_back(where(path, node.source()) + "`" + key + "` = \"" + *text +
                         "\" is not LAMP:COLOUR (a lamp left, text or right; a colour red, green or amber), "
                         "e.g. \"" + (none ? "left:red\", or \"\" for none" : "text:amber\""));
        return std::nullopt;
    }
    return tally_light{lampFound->second, colourFound->second};
}

// [umd] `program`, `hot`, `preview` and `iso`, and a display's. False when
// `name` is none of them.
bool readLightKey(const std::string& name, const toml::node& node, tally_lights& lights, const std::string& path,
                  std::vector<std::string>& errors) {
    tally_light* const light = name == "program" ? &lights.program
                               : name == "hot"   ? &lights.hot
                               : name == "preview" ? &lights.preview
                               : name == "iso"     ? &lights.iso
                                                   : nullptr;
    if (!light) return false;
    if (const auto read = lightAt(node, name, true, path, errors)) *light = *read;
    return true;
}

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
        if (const auto light = lightAt(node, name, false, path, errors)) {
            lost.markLamp = light->lamp;
            lost.markColour = light->colour;
        }
    } else if (name == "lost_text") {
        if (const auto text = textAt(node, name, path, errors)) lost.text = *text;
    } else if (name == "lost_after") {
        if (const auto after = durationAt(node, name, false, path, errors)) lost.after = *after;
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

}  // namespace

void readUmdTable(const toml::table& table, umd_config& config, umd_defaults& defaults, const std::string& path,
                  std::vector<std::string>& errors) {
    const toml::node* treatmentNode = nullptr;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        if (readLostKey(name, node, defaults.lost, treatmentNode, path, errors)) {
        } else if (readLightKey(name, node, config.lights, path, errors)) {
        } else if (name == "to") {
            defaults.to = destinationAt(node, path, errors);
            defaults.toRefused = !defaults.to;
        } else if (name == "screen") {
            if (const auto screen = integerAt(node, name, 0, maxScreen(), path, errors))
                defaults.screen = static_cast<uint16_t>(*screen);
        } else if (name == "refresh") {
            if (const auto refresh = durationAt(node, name, false, path, errors)) config.refresh = *refresh;
        } else if (name == "batch") {
            if (const auto value = booleanAt(node, name, path, errors)) config.batch = *value;
        } else if (name == "blank_on_exit") {
            if (const auto value = booleanAt(node, name, path, errors)) config.blank_on_exit = *value;
        } else if (name == "tally31") {
            readTally31(node, config.tally31, path, errors);
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + name +
                             "` in [umd] (to, screen, refresh, batch, blank_on_exit, tally31, program, hot, preview, iso, " +
                             lost_keys + ")");
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

bool addDisplayIndex(const std::string& name, long long index, const umd_defaults& defaults, umd_config& config,
                     std::map<display_place, toml::source_region>& places, const toml::source_region& where) {
    if (!defaults.to) return false;
    const screen_protocol& protocol = *defaults.to->protocol;
    if (index < 0 || index > protocol.maxIndex) return false;
    umd_display out;
    out.name = name;
    out.to = *defaults.to;
    out.screen = protocol.screens ? defaults.screen : 0;
    out.index = static_cast<uint16_t>(index);
    if (!places.emplace(display_place{out.to, out.screen, out.index}, where).second) return false;
    config.lost[name] = defaults.lost;
    config.displays.push_back(std::move(out));
    return true;
}

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
    // Over [umd]'s, which are read before the displays.
    std::optional<tally_lights> lights;
    for (const auto& [key, value] : *umd) {
        const std::string k(key.str());
        if (readLostKey(k, value, lost, treatmentNode, path, errors)) {
        } else if (k == "program" || k == "hot" || k == "preview" || k == "iso") {
            if (!lights) lights = config.lights;
            readLightKey(k, value, *lights, path, errors);
        } else if (k == "to") {
            to = destinationAt(value, path, errors);
            if (!to) return;
        } else if (k == "index") {
            indexNode = &value;
        } else if (k == "screen") {
            screenNode = &value;
        } else {
            errors.push_back(where(path, key.source()) + "unknown key `" + k + "` in `umd` of display \"" + name +
                             "\" (to, index, screen, program, hot, preview, iso, " +
                                     lost_keys + ")");
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
    const screen_protocol& protocol = *out.to.protocol;
    out.screen = protocol.screens ? defaults.screen : 0;
    if (screenNode) {
        if (!protocol.screens)
            errors.push_back(where(path, screenNode->source()) + "`screen` is for " + protocolsWithScreens() + " only");
        else if (const auto screen = integerAt(*screenNode, "screen", 0, protocol.maxScreen, path, errors))
            out.screen = static_cast<uint16_t>(*screen);
    }
    if (!indexNode) {
        errors.push_back(where(path, umd->source()) + "no `index` for display \"" + name + "\"");
        return;
    }
    const auto index = integerAt(*indexNode, "index", 0, protocol.maxIndex, path, errors);
    if (!index) return;
    out.index = static_cast<uint16_t>(*index);
    if (errors.size() != errorsBefore) return;
    const auto [first, added] = places.emplace(display_place{out.to, out.screen, out.index}, indexNode->source());
    if (!added) {
        std::string on = umdDestinationText(out.to);
        if (protocol.screens) on = "screen " + std::to_string(out.screen) + " of " + on;
        errors.push_back(where(path, indexNode->source()) + protocol.indexWord + " " +
                         std::to_string(out.index) + " is used twice on " + on + " (first at " +
                         std::to_string(first->second.begin.line) + ":" +
                         std::to_string(first->second.begin.column) + ")");
        return;
    }
    config.lost[name] = lost;
    if (lights) config.displayLights[name] = *lights;
    config.displays.push_back(std::move(out));
}

}  // namespace quon
