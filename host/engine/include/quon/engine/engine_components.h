// engine_components: the engine's components and their messages. It loads
// components, serves the commands they send (panels and controls, parent
// notifications, instances, watches and polls, timers), delivers messages
// to them and watches the host contract. Part of host_engine, which owns
// it (host_engine::components()); it reaches the routers, the tally and
// the clock through engine_links.h.
//
// Threading: every call into a component and every call into it happens
// on the host's one thread, one at a time.
//
// Delivery discipline: it never calls into a component while any
// component is inside a call into the host. Messages caused by a command
// (the revertives after "RP", for example) are queued (delivery_queue.h)
// and delivered, in order, once the call that caused them has returned.
//
// Ownership: it owns the components (each destroyed by destroy(),
// destroyAll(), or host_engine's teardown). Replies to commands are owned
// by each component's contract monitor until handed back; every non-null
// type-3 result of a component is copied and handed back with type 5 at
// once.
#ifndef QUON_ENGINE_ENGINE_COMPONENTS_H
#define QUON_ENGINE_ENGINE_COMPONENTS_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quon/common/name_index.h"
#include "quon/engine/command_parser.h"
#include "quon/engine/contract_monitor.h"
#include "quon/engine/delivery_queue.h"
#include "quon/engine/destination_index.h"
#include "quon/engine/engine_links.h"
#include "quon/engine/engine_listeners.h"
#include "quon/engine/module_cache.h"
#include "quon/engine/panel_state.h"

namespace quon {

class engine_components final : private component_link {
public:
    // Modules are loaded by a loader of `loaders` that takes them, asked
    // first, else as shared objects (module_cache.h); the loaders are its
    // own. `instances` are the instances file's entries ("SD"). It puts
    // its link into `links`; both `links` and `listeners` outlive it.
    engine_components(const std::map<std::string, std::string>& instances, const module_loaders& loaders,
                      engine_links& links, const engine_listeners& listeners);
    ~engine_components();

    engine_components(const engine_components&) = delete;
    engine_components& operator=(const engine_components&) = delete;

    // `layoutFolder` is the path text the component receives; `modulePath`
    // is used as given (callers resolve it).
    enum class create_status { created, bad_name, load_failed };
    create_status create(const std::string& name, const std::string& modulePath, const std::string& layoutFolder,
                         std::string& error);
    // Many components made together (a wall's start or reload) open a
    // batch around them: within it each layout file is looked at once, not
    // once per component (see layout_library).
    void openBatch() { layouts_.openBatch(); }
    void closeBatch() { layouts_.closeBatch(); }
    bool destroy(const std::string& name, std::string& error);
    // Destroys every component, in the order they were created.
    void destroyAll();
    bool exists(const std::string& name) const;
    // The router of the first destination the component watches ("RR");
    // nothing when it watches none.
    std::optional<int> watchedRouter(const std::string& name) const;
    // Where the component watches, as the wall shows it: the router and
    // first destination of its first watch or, while it has none, of its
    // last "RR" on a router this system does not have (`absent`); nothing
    // when neither. Such an "RR" is taken (with its warning) and honoured
    // when a reload adds the router.
    struct watch_place {
        int router = 0;
        int destination = 0;
        bool absent = false;
    };
    std::optional<watch_place> watchPlace(const std::string& name) const;
    // Their names, in the order they were created.
    std::vector<std::string> names() const;
    std::size_t count() const { return byName_.size(); }
    // Room for `count` more components: a wall of 100,000 displays grows
    // its name index once, not by rehashing it as it goes.
    void reserve(std::size_t more) { byName_.reserve(byName_.size() + more); }

    // Messages to a component. `reply` is the parent command's reply text,
    // or nullopt for null; `replied`, when given, hears of it as soon as the
    // component returns, before the messages its command caused are
    // delivered.
    bool parent(const std::string& name, const char* text, std::optional<std::string>& reply, std::string& error,
                const std::function<void(const std::optional<std::string>&)>& replied = {});
    bool button(const std::string& name, const std::string& id, const std::string& event, std::string& error);
    bool value(const std::string& name, int32_t value, std::string& error);

    // A property of a control of one of the component's panels, or nothing.
    std::optional<std::string> property(const std::string& name, const std::string& panel, const std::string& control,
                                        const std::string& property) const;
    // What has passed through since the engine was made.
    struct totals {
        uint64_t revertives = 0;      // revertives delivered to components
        uint64_t commands = 0;        // commands components sent to the host
        uint64_t parentCommands = 0;  // parent commands sent to components
    };
    const totals& counts() const { return totals_; }
    // Contract violations, "name: what", in the order seen.
    const std::vector<std::string>& problems() const { return problems_; }

private:
    struct slot;  // a component (engine_slots.h)

    // component_link
    void enterCall() override { ++callDepth_; }
    void leaveCall() override { --callDepth_; }
    bool inCall() const override { return callDepth_ > 0; }
    void enqueue(const pending_message& message) override { queue_.push(message); }
    void drain() override;
    const std::string* nameOf(uint64_t component) const override;
    uint64_t sequenceOf(const std::string& name) const override;
    const destination_index& watchers() const override { return watchers_; }
    bool watched(int router) override { return watchers_.watched(router); }
    void routerArrived(int router, int destinations) override;
    void routerGone(int router) override { watchers_.removeRouter(router); }
    void setInstances(const std::map<std::string, std::string>& instances) override;

    slot* find(const std::string& name) const;
    // The component `name`, or null with "no component NAME" in `error`.
    slot* find(const std::string& name, std::string& error) const;
    slot* bySequence(uint64_t sequence) const {
        return sequence < bySequence_.size() ? bySequence_[sequence].get() : nullptr;
    }
    // What the component sends the host, on its way in (engine_slots.h):
    // a command is done at once (execute); anything else is checked here.
    char* fromComponent(slot& s, void* data, int type);
    char* fromComponentChecked(slot& s, void* data, int type);
    // A command: read (command_parser.h), then done. The commands of a
    // revertive ("RN", "TP" to the property the display set last, "HN")
    // go straight to their effect, traced on the same way when tracing.
    char* execute(slot& s, const char* text);
    // What a command read as `c` does, with its warning; the reply.
    char* perform(slot& s, std::string_view text, const host_command& c);
    // The trace record of a command and its reply, when tracing.
    void traceCommand(const slot& s, std::string_view text, const char* reply) const;
    // "RN"'s reply.
    char* routerName(slot& s, const int (&numbers)[host_command::max_fields]);
    // "TP": false, nothing done, when its panel or control is not found.
    bool putText(slot& s, const host_command& c);
    // A "TP" to the control and property of the display's last, read by
    // comparing the text with that put's shape: false, nothing done, for
    // any other text (then it is read as any command).
    bool putAgain(slot& s, std::string_view text);
    void tellPropertyChanged(const slot& s, const panel_state& panel, int control,
                             std::pair<const std::string*, const std::string*> set);
    // "HN", and its note when tracing (which follows the command's record).
    void notifyParent(slot& s, std::string_view notification);
    void traceNotified(const slot& s, std::string_view notification) const;
    // "RR", "RU", "RP"; the warning for a router the system does not have.
    void watchCommand(slot& s, const host_command& c, std::string& warning);
    void deliver(slot& s, int type, void* data);
    void destroySlot(slot& s);
    void violated(const std::string& component, const contract_violation& v);

    engine_links& links_;
    const engine_listeners& listeners_;
    module_cache modules_;
    // The instances file's entries (name in lower case, "device index"),
    // sorted by name: a wall has one a display, each a pair in place.
    std::vector<std::pair<std::string, std::string>> instances_;
    layout_library layouts_;
    // The components, owned, indexed by creation sequence (null when gone):
    // teardown runs in this order.
    std::vector<std::unique_ptr<slot>> bySequence_;
    size_t liveSlots_ = 0;
    name_index byName_;  // views of the slots' names
    // What a listener is handed as const std::string&, kept between
    // commands so that a revertive allocates nothing.
    std::string scratch_;
    destination_index watchers_;  // watchers are slot sequences
    delivery_queue queue_;
    uint64_t nextSequence_ = 1;
    int callDepth_ = 0;
    totals totals_;
    std::vector<std::string> problems_;
};

}  // namespace quon

#endif
