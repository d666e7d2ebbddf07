// The Ember+ protocol as the host knows it: its name, port, device keys
// and client (protocol_descriptor.h). Its own keys: Matrix (a path) and AnswerWait.
#ifndef QUON_ROUTERS_EMBERPLUS_DESCRIPTOR_H
#define QUON_ROUTERS_EMBERPLUS_DESCRIPTOR_H

#include "quon/routers/protocol_descriptor.h"

namespace quon::routers::emberplus {

protocol_descriptor descriptor();

}  // namespace quon::routers::emberplus

#endif
