// The web view as a listener: each display (its text, state sheet
// and lamps, the last notification to its parent panel, the router and
// destination it watches and whether that router answers, its TSL index),
// each router's link, and the latest events.
#ifndef QUON_LIVE_WEB_LISTENER_H
#define QUON_LIVE_WEB_LISTENER_H

#include <map>
#include <string>

#include "quon/displays/display_model.h"
#include "quon/engine/engine_routers.h"
#include "quon/engine/host_listener.h"
#include "quon/screens/umd_config.h"
#include "quon/web/web_view.h"

namespace quon {

// The displays come from the display model, the rest from the engine's
// events.
class web_listener : public host_listener, public display_observer {
public:
    // `routers`, `displays`, `view` and `screens` outlive the listener;
    // `screens` (the wall file's [umd]) gives each display's TSL index and
    // the lamps of each state sheet ([tally.*]). It follows `displays` from
    // now on.
    web_listener(const engine_routers& routers, display_model& displays, web::web_view& view,
                 const umd_config& screens);
    ~web_listener() override;

    void componentCreated(const std::string& name) override;
    void componentDestroyed(const std::string& name) override;
    void displayChanged(const display_record& display, display_aspect what) override;
    void routerChanged(const router_change& change) override;
    void routerRemoved(int device) override;
    void warning(const std::string& component, const std::string& text) override;
    void violation(const std::string& component, const contract_violation& v) override;

    // What the display's screen now shows of its router's loss.
    void marked(const std::string& display, lost_treatment now);
    // Why the display's router cannot show it what it watches; "" when it can.
    void watchProblem(const std::string& display, const std::string& problem);
    // Shows every router the engine has, as it stands.
    void showRouters();
    // Shows every display again with what `screens` now says, for when the
    // wall file it belongs to was reloaded in place.
    void refresh();

private:
    void show(web::display_state& entry, const display_record& display);
    // The display's TSL index, or -1 when the wall sends it nowhere.
    static int tslIndex(const umd_config& config, const std::string& component);

    const engine_routers& routers_;
    display_model& model_;
    web::web_view& view_;
    const umd_config& screens_;
    std::map<std::string, web::display_state> displays_;
    std::map<int, bool> routerUp_;  // by device, as last told
};

}  // namespace quon

#endif
