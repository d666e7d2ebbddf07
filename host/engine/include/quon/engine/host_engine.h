// host_engine: the host side of the two-way interface. It loads
// components, serves their commands (panels and controls, parent
// notifications, instances, routers, timers), delivers messages to them,
// watches the host contract, and tells its listeners what happens.
//
// Threading: every call into a component and every call into the engine
// happens on the host's one thread, one at a time.
//
// Delivery discipline: the engine never calls into a component while any
// component is inside a call into the host. Messages caused by a command
// (the revertives after "RP", for example) are queued (delivery_queue.h)
// and delivered, in order, once the call that caused them has returned.
//
// Its parts: the components and their messages (host_engine.cpp), the
// commands components send (host_engine_commands.cpp), the routers and
// the operator's actions on them (host_engine_routers.cpp); who watches
// which destination is destination_index.h, what a reload does
// reload_plan.h.
//
// Ownership: replies to commands are owned by each component's contract
// monitor until handed back; every non-null type-3 result of a component
// is copied and handed back with type 5 at once.
#ifndef QUON_ENGINE_HOST_ENGINE_H
#define QUON_ENGINE_HOST_ENGINE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "quon/common/name_index.h"
#include "quon/engine/command_parser.h"
#include "quon/engine/delivery_queue.h"
#include "quon/engine/destination_index.h"
#include "quon/engine/host_listener.h"
#include "quon/engine/module_cache.h"
#include "quon/engine/panel_state.h"
#include "quon/engine/router_backend.h"
#include "quon/engine/system_files.h"
#include "quon/engine/tally_graph.h"
#include "quon/engine/timer_queue.h"

namespace quon {

class host_engine : private router_events {
public:
    // Most timer ticks one advance() may deliver; a longer step is refused.
    static constexpr uint64_t max_ticks_per_step = 1000000;

    // Creates a router backend for each device of `system` through
    // `routers` (used only here); a device whose backend cannot be made is
    // left out with a warning (see warnings()). Components' modules are
    // loaded by a loader of `loaders` that takes them, asked first, else
    // as shared objects (module_cache.h); the loaders are the engine's own.
    host_engine(const system_description& system, const router_registry& routers,
                const module_loaders& loaders = {});
    // Destroys the remaining components, in the order they were created,
    // without telling the listeners.
    ~host_engine();

    host_engine(const host_engine&) = delete;
    host_engine& operator=(const host_engine&) = delete;

    // `listener` is told of everything until removed; it must outlive that.
    void addListener(host_listener* listener);
    void removeListener(host_listener* listener);

    // Starts the routers' connections (live backends); call once the
    // listeners are in place.
    void startRouters();
    void stopRouters();

    // The system as read again (at a reload), as reload_plan.h decides: a
    // router whose device file changed in its [Router] settings or sizes is
    // made anew and, when the routers run, connects again alone; a router
    // whose file changed in its entry names alone is offered them (a
    // simulated router renames those entries, and its watchers hear of it);
    // new routers are added; a router whose file is gone is removed, unless
    // a component watches it (then it stays, with a warning). Components
    // keep what they watch; unchanged routers are not touched. The
    // instances are replaced.
    struct system_changes {
        std::vector<int> added, changed, renamed, removed;  // device numbers
    };
    system_changes applySystem(const system_description& system, const router_registry& routers);

    // Components. `layoutFolder` is the path text the component receives;
    // `modulePath` is used as given (callers resolve it).
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
    // when neither. The engine takes such an "RR" (with its warning) and
    // honours it when a reload adds the router.
    struct watch_place {
        int device = 0;
        int destination = 0;
        bool absent = false;
    };
    std::optional<watch_place> watchPlace(const std::string& name) const;
    std::vector<std::string> components() const;
    std::size_t componentCount() const { return byName_.size(); }
    // Room for `count` more components: a wall of 100,000 displays grows
    // its name index once, not by rehashing it as it goes.
    void reserve(std::size_t count) { byName_.reserve(byName_.size() + count); }

    // Messages to a component. `reply` is the parent command's reply text,
    // or nullopt for null; `replied`, when given, hears of it as soon as the
    // component returns, before the messages its command caused are
    // delivered.
    bool parent(const std::string& name, const char* text, std::optional<std::string>& reply, std::string& error,
                const std::function<void(const std::optional<std::string>&)>& replied = {});
    bool button(const std::string& name, const std::string& id, const std::string& event, std::string& error);
    bool value(const std::string& name, int32_t value, std::string& error);

    // The operator's actions on routers.
    bool route(int device, int destination, int source, std::string& error);
    // Takes every route of `routes` (destination, source) at once; the
    // revertives are delivered after all of them are taken.
    bool salvo(int device, const std::vector<std::pair<int, int>>& routes, std::string& error);
    bool rename(int device, int database, int index, const std::string& text, std::string& error);
    bool setAnswers(int device, bool answers, std::string& error);
    std::optional<int> crosspoint(int device, int destination) const;
    std::vector<int> devices() const;
    // Bytes a router sent wait unread (router_backend::unread).
    bool routersUnread() const;
    std::optional<router_status> routerStatus(int device) const;
    // The device file's description of a router, or null.
    const router_description* routerDescription(int device) const;

    // Tally (tally_graph.h): what the vision mixers light, followed through
    // every route the engine learns and the tie lines. Listeners hear of
    // each component whose tally changed (tallyChanged). A point whose
    // route the graph has not yet heard of is asked of its router first.
    // Until the first lit index or tie line the graph sleeps: nothing can
    // be on air, so a revertive does not feed it; it wakes filled with the
    // routes the routers know and the destinations the components watch.
    void setTally(const std::vector<tally::lit>& lits);
    // The tie lines, at start and at each reload.
    void setTies(const std::vector<tally::tie>& ties);
    // The tally of the picture a component's first watched destination
    // shows; off when it watches none.
    tally::state tallyOf(const std::string& name) const;
    // Why; nothing when it watches none.
    std::optional<tally_graph::reason> tallyWhy(const std::string& name) const;
    // Lit indices reported, by input (each change of one index counts).
    const std::map<std::string, uint64_t>& tallyChanges() const { return tallyChanges_; }

    // The host clock, in milliseconds; timers fire as it moves. False, and
    // nothing done, when the step would deliver more than
    // max_ticks_per_step ticks; `error` says how many.
    bool advance(uint64_t milliseconds, std::string& error);
    uint64_t now() const { return now_; }
    // A live host's clock: before the engine acts on any call or router
    // event, its clock (and the timers due on the way) catches up with
    // `clock`, in milliseconds. Without one, time moves only by advance().
    void followClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }
    // When the next timer is due, if any is running.
    std::optional<uint64_t> nextDue() const;

    // Inspection.
    std::optional<std::string> property(const std::string& name, const std::string& panel, const std::string& control,
                                        const std::string& property) const;
    // What has passed through the engine since it was made.
    struct totals {
        uint64_t revertives = 0;      // revertives delivered to components
        uint64_t commands = 0;        // commands components sent to the host
        uint64_t parentCommands = 0;  // parent commands sent to components
    };
    const totals& counts() const { return totals_; }
    // Contract violations, "name: what", in the order seen.
    const std::vector<std::string>& problems() const { return problems_; }
    // Device files whose router could not be set up, and keys of theirs
    // not read.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Device files whose router would not be what they mean
    // (router_registry::keyErrors): serve does not start on them, nor
    // reload, and `check` fails.
    const std::vector<std::string>& errors() const { return errors_; }
    // Why the device's router could not be set up (its warning), or null
    // when it was or has no device file.
    const std::string* leftOut(int device) const;

private:
    struct slot;         // a component (engine_slots.h)
    struct router_slot;  // a router (engine_slots.h)

    // router_events
    void revertive(int device, int destination, int source, uint64_t requester) override;
    void nameChanged(int device, int database, int index) override;
    void statusChanged(int device) override;
    void routerWarning(int device, const std::string& text) override;

    slot* find(const std::string& name) const;
    // The component `name`, or null with "no component NAME" in `error`.
    slot* find(const std::string& name, std::string& error) const;
    slot* bySequence(uint64_t sequence) const {
        return sequence < bySequence_.size() ? bySequence_[sequence].get() : nullptr;
    }
    router_slot* router(int device) const;
    // The router `device`, or null with "no router N" in `error`.
    router_slot* router(int device, std::string& error) const;
    // Whether the router has the destination by the size it last reported
    // (any, while it reported none).
    bool reports(int device, int destination) const;
    // A router slot for `d`, or null with a warning when no backend can be made.
    std::unique_ptr<router_slot> makeRouter(const router_description& d, const router_registry& routers);
    // Puts `next` in the place of router d.device (if any), keeping its
    // watchers and telling them what the new backend knows.
    void replaceRouter(std::unique_ptr<router_slot> next);
    char* fromComponent(slot& s, void* data, int type);
    // Any message to the host, traced and checked (fromComponent's long way).
    char* fromComponentTraced(slot& s, void* data, int type);
    // A command: read (command_parser.h), then done.
    char* execute(slot& s, const char* text);
    // A command the quick reading left (command_parser.h), read fully:
    // what it does, or the warning why it is malformed.
    char* readFully(slot& s, std::string_view text);
    // What a command read as `c` does, traced, with its warning; the reply.
    char* perform(slot& s, std::string_view text, const host_command& c);
    // The commands of a revertive, shared by both ways: "RN"'s reply;
    // "TP" (false, nothing done, when its panel or control is not found);
    // "HN".
    char* routerName(slot& s, const int (&numbers)[host_command::max_fields]);
    bool putText(slot& s, const host_command& c);
    // A "TP" to the control and property of the display's last, read by
    // comparing the text with that put's shape: false, nothing done, for
    // any other text (then it is read as any command).
    bool putAgain(slot& s, std::string_view text);
    void tellPropertyChanged(const slot& s, const panel_state& panel, int control,
                             std::pair<const std::string*, const std::string*> set);
    void notifyParent(slot& s, std::string_view notification);
    void enqueue(const pending_message& message) { queue_.push(message); }
    void drain();
    void deliver(slot& s, int type, void* data);
    void destroySlot(slot& s);
    void catchUpClock();
    // The component's tally follows its first watched destination now.
    void retally(slot& s);
    // The graph's route for a destination, asked of its router when unknown;
    // none past the size the router reports.
    std::vector<tally_graph::place> learnRoute(int device, int destination);
    // The graph takes the size router `device` now reports: a destination
    // past it carries nothing, whatever was read there before, and a
    // watched one within it is learnt again.
    void fitTally(const router_slot& r, int device);
    // Tells the listeners of the components watching `changed`, once the
    // messages queued before have been delivered (drain()).
    void tellTally(const std::vector<tally_graph::place>& changed);
    void flushTally();
    // Fills the sleeping graph with what the routers and components know.
    void wakeTally();
    uint64_t stamp() const;  // the time a trace record is dated

    // Telling the listeners.
    trace_event traceEvent(const std::string& component, trace_direction direction, int type, trace_kind kind,
                           std::string_view text) const;
    void trace(const std::string& component, trace_direction direction, int type, trace_kind kind,
               std::string_view text);
    // A message to the host and the host's reply (null for none): a
    // command's, or a parent command's reply to its parent.
    void traceReply(const std::string& component, int type, trace_kind kind, std::string_view text, const char* reply);
    void warn(const std::string& component, const std::string& text);
    void note(const std::string& component, trace_kind kind, const std::string& text);
    void violated(const std::string& component, const contract_violation& v);

    module_cache modules_;
    std::map<int, std::unique_ptr<router_slot>> routers_;
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
    tally_graph tally_;
    bool tallyAwake_ = false;  // a lit index or a tie line has been set
    std::map<std::string, uint64_t> tallyChanges_;
    // Tally changes not yet told: of watched destinations, of components.
    std::vector<tally_graph::place> tallyDue_;
    std::vector<uint64_t> tallyDueFor_;
    delivery_queue queue_;
    timer_queue timers_;  // owners are slot sequences
    uint64_t nextSequence_ = 1;
    uint64_t now_ = 0;
    int callDepth_ = 0;
    std::function<uint64_t()> clock_;
    std::vector<host_listener*> listeners_;
    bool tracing_ = false;
    bool routersStarted_ = false;
    totals totals_;
    std::vector<std::string> problems_;
    std::vector<std::string> warnings_;
    std::vector<std::string> errors_;
    std::map<int, std::string> leftOut_;  // by device: the warning it was left out with
};

}  // namespace quon

#endif
