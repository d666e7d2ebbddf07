#include "quon/screens/umd_config.h"

#include <cstring>

#include "quon/common/endpoint.h"
#include "quon/screens/screen_protocol.h"

namespace quon {

namespace {

// "tsl5+udp://host:port, tsl5+tcp://host:port or tsl31+udp://host:port".
std::string schemeForms() {
    std::vector<std::string> forms;
    for (const screen_protocol* protocol : screenProtocols())
        for (const screen_scheme& scheme : protocol->schemes) forms.push_back(std::string(scheme.text) + "://host:port");
    std::string text;
    for (size_t i = 0; i < forms.size(); ++i)
        text += (i == 0 ? "" : i + 1 == forms.size() ? " or " : ", ") + forms[i];
    return text;
}

}  // namespace

bool parseUmdDestination(const std::string& text, umd_destination& out, std::string& error) {
    const std::string forms = schemeForms();
    const char* const out_of_range = "names a port out of range (1 to 65535)";
    const size_t separator = text.find("://");
    const screen_protocol* protocol = nullptr;
    const screen_scheme* known = nullptr;
    if (separator != std::string::npos)
        for (const screen_protocol* candidate : screenProtocols())
            for (const screen_scheme& scheme : candidate->schemes)
                if (text.compare(0, separator, scheme.text) == 0 && separator == std::strlen(scheme.text)) {
                    protocol = candidate;
                    known = &scheme;
                }
    if (!known) {
        error = std::string("is not ") + forms;
        return false;
    }
    endpoint_text where;
    std::string why;
    if (!parseEndpoint(text.substr(separator + 3), where, why)) {
        // A port out of range is said alone; anything else with the forms.
        error = why.compare(0, 5, "port ") == 0 ? out_of_range : "is not " + forms + ": " + why;
        return false;
    }
    if (where.host.empty() || !where.port) {
        error = std::string("is not ") + forms + ": " + (where.host.empty() ? "no host" : "no port");
        return false;
    }
    if (*where.port == 0) {
        error = out_of_range;
        return false;
    }
    out.protocol = protocol;
    out.transport = known->transport;
    out.host = where.host;
    out.port = *where.port;
    return true;
}

std::string umdDestinationText(const umd_destination& destination) {
    std::string text;
    if (destination.protocol)
        for (const screen_scheme& scheme : destination.protocol->schemes)
            if (scheme.transport == destination.transport) text = scheme.text;
    text += "://";
    const bool ipv6 = destination.host.find(':') != std::string::npos;
    text += ipv6 ? "[" + destination.host + "]" : destination.host;
    return text + ":" + std::to_string(destination.port);
}

const char* lostTreatmentName(lost_treatment treatment) {
    switch (treatment) {
    case lost_treatment::keep:
        return "keep";
    case lost_treatment::mark:
        return "mark";
    case lost_treatment::blank:
        return "blank";
    case lost_treatment::text:
        return "text";
    }
    return "keep";
}

router_lost umd_config::lostFor(const std::string& display) const {
    const auto found = lost.find(display);
    return found == lost.end() ? router_lost{} : found->second;
}

const tally_lights& umd_config::lightsFor(const std::string& display) const {
    const auto found = displayLights.find(display);
    return found == displayLights.end() ? lights : found->second;
}

tally_lamps lightUp(tally_lamps lamps, const tally_light& light) {
    if (light.lamp == tally_lamp::left) lamps.left = light.colour;
    if (light.lamp == tally_lamp::text) lamps.text = light.colour;
    if (light.lamp == tally_lamp::right) lamps.right = light.colour;
    return lamps;
}

tally_lamps umd_config::lampsFor(const std::string& statesheet) const {
    const auto found = tallies.find(statesheet);
    return found == tallies.end() ? tally_lamps{} : found->second;
}

}  // namespace quon
