// The Quartz protocol as the host knows it: its name, port, device keys and
// client (protocol_descriptor.h). Its own keys: Level (a letter, V when
// omitted; lower case is taken as its capital) and AnswerWait.
#ifndef QUON_ROUTERS_QUARTZ_DESCRIPTOR_H
#define QUON_ROUTERS_QUARTZ_DESCRIPTOR_H

#include "quon/routers/protocol_descriptor.h"

namespace quon::routers::quartz {

protocol_descriptor descriptor();

}  // namespace quon::routers::quartz

#endif
