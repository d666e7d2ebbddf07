// Tells systemd how the service is doing (READY=1, STATUS=..., STOPPING=1,
// WATCHDOG=1)
// when it runs under systemd with Type=notify; does nothing otherwise, and
// nothing in a build without libsystemd.
#ifndef QUON_CLI_SERVICE_NOTIFY_H
#define QUON_CLI_SERVICE_NOTIFY_H

#include <chrono>
#include <string>

namespace quon {

void notifyService(const std::string& state);

// systemd's WatchdogSec for this process (WATCHDOG_USEC, when WATCHDOG_PID
// is this process), or 0 when no watchdog watches it: WATCHDOG=1 is then
// to be sent at least this often, from the loop whose hang it should see.
std::chrono::microseconds watchdogInterval();

}  // namespace quon

#endif
