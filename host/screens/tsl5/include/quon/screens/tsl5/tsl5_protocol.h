// TSL UMD 5.0 as a screen protocol: over UDP a packet a datagram, over TCP
// in DLE/STX frames; displays by screen (0 to 65534) and index (0 to
// 65534); with [umd] `batch`, displays of one screen and one text encoding
// share a packet up to tsl5_max_packet_size.
#ifndef QUON_SCREENS_TSL5_PROTOCOL_H
#define QUON_SCREENS_TSL5_PROTOCOL_H

#include "quon/screens/screen_protocol.h"

namespace quon {

extern const screen_protocol tsl5_protocol;

}  // namespace quon

#endif
