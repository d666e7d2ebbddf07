// Routers on the network as router backends: a device file with
// Protocol=videohub or Protocol=swp08 gets a link to a real router.
//
//   [Router]
//   Protocol=videohub        ; or swp08
//   Address=host:port        ; videohub: port 9990 when omitted; swp08: 8910
//   Matrix=0                 ; swp08 only, as numbered on the wire (0 when omitted)
//   Level=0                  ; swp08 only (0 when omitted)
//   NameLength=8             ; swp08 only: names of 4, 8 or 12 characters
//
// Timing keys for a link, in milliseconds, each optional: ConnectTimeout,
// KeepAlive, Silence (nothing heard this long: the router is lost),
// RetryFirst, RetryCap, Resync (the whole state read again), AnswerWait
// (swp08: the wait for further names or answers at connect). An swp08 link
// reads the sizes [Database] gives (DatabaseSize_0, DatabaseSize_1).
#ifndef QUON_LIVE_LIVE_ROUTERS_H
#define QUON_LIVE_LIVE_ROUTERS_H

#include <boost/asio/io_context.hpp>

#include "quon/engine/router_backend.h"

namespace quon {

// Adds "videohub" and "swp08" to `registry`; their links run on `loop`,
// which outlives every backend made.
void addLiveRouters(router_registry& registry, boost::asio::io_context& loop);

}  // namespace quon

#endif
