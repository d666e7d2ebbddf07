#include "quon/routers/videohub/videohub_descriptor.h"

#include "quon/routers/videohub/videohub_client.h"

namespace quon::routers::videohub {

namespace {

std::unique_ptr<router_client> makeClient(const router_settings& settings, const no_options&) {
    return std::make_unique<videohub_client>(settings);
}

}  // namespace

protocol_descriptor descriptor() { return describeProtocol<no_options>("videohub", default_port, {}, &makeClient); }

}  // namespace quon::routers::videohub
