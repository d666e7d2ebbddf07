// TSL UMD 3.1 as a screen protocol: over UDP, a message a datagram; displays
// by address (0 to 126), no screens; the lamps drive its four tallies as
// [umd] `tally31` says.
#ifndef QUON_SCREENS_TSL31_PROTOCOL_H
#define QUON_SCREENS_TSL31_PROTOCOL_H

#include "quon/screens/screen_protocol.h"

namespace quon {

extern const screen_protocol tsl31_protocol;

}  // namespace quon

#endif
