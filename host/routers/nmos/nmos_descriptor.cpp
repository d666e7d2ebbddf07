#include "quon/routers/nmos/nmos_descriptor.h"

#include "quon/routers/nmos/nmos_client.h"

namespace quon::routers::nmos {

namespace {

// Ids or labels separated by commas; blanks around each are not part of it.
bool readList(const std::string& value, std::vector<std::string>& list, std::string& why) {
    list.clear();
    std::size_t at = 0;
    while (at <= value.size()) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        std::size_t first = at, last = comma;
        while (first < last && (value[first] == ' ' || value[first] == '\t')) ++first;
        while (last > first && (value[last - 1] == ' ' || value[last - 1] == '\t')) --last;
        if (first == last) {
            why = "ids or labels separated by commas, none empty (entry " + std::to_string(list.size() + 1) +
                  " is empty)";
            return false;
        }
        list.push_back(value.substr(first, last - first));
        at = comma + 1;
    }
    return true;
}

std::unique_ptr<router_client> makeClient(const router_settings& settings, const nmos_options& options) {
    return std::make_unique<nmos_client>(settings, options);
}

}  // namespace

protocol_descriptor descriptor() {
    protocol_descriptor d =
        describeProtocol<nmos_options>("nmos", default_port,
                                       {{"Senders",
                                         [](const std::string& v, nmos_options& o, std::string& why) {
                                             o.sendersListed = true;
                                             return readList(v, o.senders, why);
                                         }},
                                        {"Receivers",
                                         [](const std::string& v, nmos_options& o, std::string& why) {
                                             o.receiversListed = true;
                                             return readList(v, o.receivers, why);
                                         }}},
                                       &makeClient);
    d.urlScheme = "http";
    return d;
}

}  // namespace quon::routers::nmos
