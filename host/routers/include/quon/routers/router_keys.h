// router_keys: the [Router] keys of a device file as a router on the
// network reads them. Every protocol reads Address= (host:port, [v6]:port
// or a bare host, which takes the protocol's port; for a protocol of http://
// URLs, an https:// URL too, over TLS, port 443 by default), CaFile= (with
// https: the CA certificates, PEM, the router's must chain to, a path from
// the device file's folder; the system's store without it; checked here,
// when the system is loaded) and the timings of its connection, in
// milliseconds (ConnectTimeout, KeepAlive, KeepAliveWait, Silence,
// RetryFirst, RetryCap, Resync); its descriptor reads the rest. This
// reader knows no protocol by name.
//
// Pure; no state.
#ifndef QUON_ROUTERS_ROUTER_KEYS_H
#define QUON_ROUTERS_ROUTER_KEYS_H

#include <memory>
#include <string>
#include <vector>

#include "quon/engine/system_files.h"
#include "quon/routers/protocol_descriptor.h"
#include "quon/routers/router_client.h"
#include "quon/routers/router_settings.h"

namespace quon::routers {

// The settings and the client of the router `d` describes, spoken to in
// `protocol`. Null with an error that begins with the device file and the
// line of the key ("dev_001.ini:9: [Router] Level=x: a whole number from 0
// to 15") when a key is missing or wrong.
std::unique_ptr<router_client> readRouterKeys(const router_description& d, const protocol_descriptor& protocol,
                                              router_settings& settings, std::string& error);

// Every [Router] key readRouterKeys() reads for `protocol`, as spelt:
// those every protocol reads, then its own.
std::vector<std::string> keysOf(const protocol_descriptor& protocol);

}  // namespace quon::routers

#endif
