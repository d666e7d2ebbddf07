// The NMOS protocol as the host knows it: Protocol=nmos, port 80 when
// Address= gives none (Address= may be an http:// URL with the Query API's
// version path), and its own keys Senders= and Receivers=, the numbering.
#ifndef QUON_ROUTERS_NMOS_NMOS_DESCRIPTOR_H
#define QUON_ROUTERS_NMOS_NMOS_DESCRIPTOR_H

#include "quon/routers/protocol_descriptor.h"

namespace quon::routers::nmos {

protocol_descriptor descriptor();

}  // namespace quon::routers::nmos

#endif
