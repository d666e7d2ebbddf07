#include "quon/umd/umd_config.h"

#include <cstring>

#include "quon/common/endpoint.h"

namespace quon {

namespace {

struct scheme_name {
    const char* text;
    umd_protocol protocol;
    umd_transport transport;
};
constexpr scheme_name schemes[] = {
    {"tsl5+udp", umd_protocol::tsl5, umd_transport::udp},
    {"tsl5+tcp", umd_protocol::tsl5, umd_transport::tcp},
    {"tsl31+udp", umd_protocol::tsl31, umd_transport::udp},
};

}  // namespace

bool parseUmdDestination(const std::string& text, umd_destination& out, std::string& error) {
    const char* const forms = "tsl5+udp://host:port, tsl5+tcp://host:port or tsl31+udp://host:port";
    const char* const out_of_range = "names a port out of range (1 to 65535)";
    const size_t separator = text.find("://");
    const scheme_name* known = nullptr;
    if (separator != std::string::npos)
        for (const auto& candidate : schemes)
            if (text.compare(0, separator, candidate.text) == 0 && separator == std::strlen(candidate.text))
                known = &candidate;
    if (!known) {
        error = std::string("is not ") + forms;
        return false;
    }
    endpoint_text where;
    std::string why;
    if (!parseEndpoint(text.substr(separator + 3), where, why)) {
        // A port out of range is said alone; anything else with the forms.
        error = why.compare(0, 5, "port ") == 0 ? out_of_range : "is not " + std::string(forms) + ": " + why;
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
    out.protocol = known->protocol;
    out.transport = known->transport;
    out.host = where.host;
    out.port = *where.port;
    return true;
}

std::string umdDestinationText(const umd_destination& destination) {
    std::string text;
    for (const auto& scheme : schemes) {
        if (scheme.protocol == destination.protocol && scheme.transport == destination.transport) text = scheme.text;
    }
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

tally_lamps umd_config::lampsFor(const std::string& statesheet) const {
    const auto found = tallies.find(statesheet);
    return found == tallies.end() ? tally_lamps{} : found->second;
}

}  // namespace quon
