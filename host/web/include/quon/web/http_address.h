// The address the web view listens on, as given to `--http ADDR:PORT`.
#ifndef QUON_WEB_HTTP_ADDRESS_H
#define QUON_WEB_HTTP_ADDRESS_H

#include <string>

namespace quon::web {

// Parses "ADDR:PORT", "NAME:PORT", ":PORT", "[V6]:PORT" or "PORT". Without an
// address the view listens on 127.0.0.1 only; any other address has to be
// named. A NAME (localhost) is resolved now, once, to its first address.
// Port 0 lets the system choose. Returns false with `error` set on bad
// input or a name that does not resolve. `address` is numeric.
bool parseHttpAddress(const std::string& text, std::string& address, unsigned short& port, std::string& error);

// Whether a numeric address (as parseHttpAddress returns it) reaches this
// machine only: 127.0.0.0/8, ::1 or ::ffff:127.x.y.z. A caller listening on
// any other address warns that the page is visible on the network.
bool isLoopbackAddress(const std::string& address);

}  // namespace quon::web

#endif
