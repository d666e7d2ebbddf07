#include "quon/tally/tally_input_config.h"

namespace quon::tally {

std::string listenText(const tally_input_config& input) {
    const char* const scheme = input.wire == tally_wire::tsl5_udp   ? "tsl5+udp"
                               : input.wire == tally_wire::tsl5_tcp ? "tsl5+tcp"
                                                                    : "tsl31+udp";
    const bool ipv6 = input.address.find(':') != std::string::npos;
    return std::string(scheme) + "://" + (ipv6 ? "[" + input.address + "]" : input.address) + ":" +
           std::to_string(input.port);
}

}  // namespace quon::tally
