// What the components part keeps for each component, shared by its source
// files (components and messages, commands).
#ifndef QUON_ENGINE_ENGINE_SLOTS_H
#define QUON_ENGINE_ENGINE_SLOTS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quon/common/text.h"
#include "quon/engine/contract_monitor.h"
#include "quon/engine/engine_components.h"
#include "quon/engine/panel_state.h"
#include "quon_client_callback.h"
#include "quon_message_types.h"

namespace quon {

// The host side of one component: the quon_client_callback the component
// calls, and everything the host keeps for it, in one block (its first
// panel inline; the names of panels, controls and properties are the
// layout library's, shared by every display).
struct engine_components::slot : quon_client_callback, contract_reporter {
    slot(engine_components& owner, uint64_t sequence, std::string id)
        : engine(owner), contract(*this), seq(sequence), name(std::move(id)) {}

    char* callback(void* data, int type) override;
    void violated(const contract_violation& v) override { engine.violated(name, v); }

    // What a revertive touches first, together (a salvo streams every
    // display's link): the component, its first panel, the monitor's
    // replies.
    engine_components& engine;
    quon_client_callback* component = nullptr;  // owned; deleted by destroySlot
    bool answered = false;                      // a router has told it a route
    // The shape of its first panel's last "TP" (layout_library), so that
    // the next to the same property is taken by comparing its text with
    // that alone (putAgain); null: none.
    const put_shape* put = nullptr;
    // Its panels, by id: a display has one, kept here; any others in order.
    std::optional<panel_state> firstPanel;
    contract_monitor contract;
    const uint64_t seq;  // its creation sequence: the watcher and timer owner it is
    const std::string name;
    std::unique_ptr<std::vector<panel_state>> morePanels;  // none until a second panel
    // Its last "RR" on a router this system does not have: it watches that
    // router in name only (watchPlace), and in fact once a reload adds it.
    struct absent_watch {
        int router;
        int first;
        int last;
    };
    std::optional<absent_watch> absent;

    panel_state* panel(std::string_view id) {
        if (firstPanel && firstPanel->id() == id) return &*firstPanel;
        if (morePanels)
            for (panel_state& p : *morePanels)
                if (p.id() == id) return &p;
        return nullptr;
    }
    const panel_state* panel(std::string_view id) const { return const_cast<slot*>(this)->panel(id); }
};

// What every revertive brings (commands while the component runs, the
// replies handed back) takes the short way, inline in the component's
// call, traced or not.
inline char* engine_components::fromComponent(slot& s, void* data, int type) {
    if (type == QUON_MSG_COMMAND && data && !s.contract.isFinished()) return execute(s, static_cast<const char*>(data));
    if (type == QUON_MSG_RELEASE) {
        char* text = static_cast<char*>(data);
        if (listeners_.tracing())
            listeners_.trace(s.name, trace_direction::to_host, QUON_MSG_RELEASE, trace_kind::release,
                             text ? text : "null");
        s.contract.handedBack(text);
        return nullptr;
    }
    return fromComponentChecked(s, data, type);
}

inline char* engine_components::slot::callback(void* data, int type) { return engine.fromComponent(*this, data, type); }

inline std::string quoted(const std::string& text) { return "\"" + escaped(text) + "\""; }

}  // namespace quon

#endif
