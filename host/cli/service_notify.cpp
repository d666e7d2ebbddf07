#include "service_notify.h"

#if defined(QUON_HAVE_SYSTEMD)
#include <systemd/sd-daemon.h>
#endif

namespace quon {

void notifyService(const std::string& state) {
#if defined(QUON_HAVE_SYSTEMD)
    sd_notify(0, state.c_str());
#else
    (void)state;
#endif
}

std::chrono::microseconds watchdogInterval() {
#if defined(QUON_HAVE_SYSTEMD)
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) return std::chrono::microseconds(usec);
#endif
    return std::chrono::microseconds(0);
}

}  // namespace quon
