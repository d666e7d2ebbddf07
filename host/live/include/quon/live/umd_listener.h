// The TSL UMD output as a listener: every time a display's text or state
// sheet is set, that display goes to its screen.
#ifndef QUON_LIVE_UMD_LISTENER_H
#define QUON_LIVE_UMD_LISTENER_H

#include "quon/engine/host_engine.h"
#include "quon/umd/umd_output.h"

namespace quon {

class umd_listener : public host_listener {
public:
    // `engine` and `output` outlive the listener.
    umd_listener(const host_engine& engine, umd_output& output) : engine_(engine), output_(output) {}
    void propertyChanged(const property_change& change) override;
    // Sends the display as it stands (after the output was made anew).
    void resend(const std::string& component);

private:
    const host_engine& engine_;
    umd_output& output_;
};

}  // namespace quon

#endif
