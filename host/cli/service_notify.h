// Tells systemd how the service is doing (READY=1, STATUS=..., STOPPING=1)
// when it runs under systemd with Type=notify; does nothing otherwise, and
// nothing in a build without libsystemd.
#ifndef QUON_CLI_SERVICE_NOTIFY_H
#define QUON_CLI_SERVICE_NOTIFY_H

#include <string>

namespace quon {

void notifyService(const std::string& state);

}  // namespace quon

#endif
