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

}  // namespace quon
