#include "quon/umd/umd_config.h"

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

bool parseUmdDestination(const std::string& text, umd_destination& out) {
    const size_t separator = text.find("://");
    if (separator == std::string::npos) return false;
    const std::string scheme = text.substr(0, separator);
    const scheme_name* known = nullptr;
    for (const auto& candidate : schemes) {
        if (scheme == candidate.text) known = &candidate;
    }
    if (!known) return false;

    endpoint_text where;
    std::string error;
    if (!parseEndpoint(text.substr(separator + 3), where, error) || where.host.empty() || !where.port ||
        *where.port == 0)
        return false;
    const std::string host = where.host;
    const uint16_t port = *where.port;

    out.protocol = known->protocol;
    out.transport = known->transport;
    out.host = host;
    out.port = port;
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
