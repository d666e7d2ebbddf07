// The Videohub Ethernet protocol as the host knows it: its name, port, device keys
// and client (protocol_descriptor.h). It reads no key of its own.
#ifndef QUON_ROUTERS_VIDEOHUB_DESCRIPTOR_H
#define QUON_ROUTERS_VIDEOHUB_DESCRIPTOR_H

#include "quon/routers/protocol_descriptor.h"

namespace quon::routers::videohub {

protocol_descriptor descriptor();

}  // namespace quon::routers::videohub

#endif
