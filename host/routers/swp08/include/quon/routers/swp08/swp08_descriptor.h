// The SW-P-08 protocol as the host knows it: its name, port, device keys
// and client (protocol_descriptor.h). Its own keys: Matrix and Level (as
// numbered on the wire, 0 to 15), NameLength (4, 8 or 12), AnswerWait.
#ifndef QUON_ROUTERS_SWP08_DESCRIPTOR_H
#define QUON_ROUTERS_SWP08_DESCRIPTOR_H

#include "quon/routers/protocol_descriptor.h"

namespace quon::routers::swp08 {

protocol_descriptor descriptor();

}  // namespace quon::routers::swp08

#endif
