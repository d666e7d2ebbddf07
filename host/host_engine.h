// host_engine: the host side of the two-way interface, and the simulated
// system behind it (routers, panels, timers, parent panels).
//
// Delivery discipline: the engine never calls into a component while any
// component is inside a call into the host. Messages caused by a command
// (the revertives after "RP", for example) are queued and delivered, in
// order, once the call that caused them has returned.
//
// Ownership: replies to commands are allocated by the engine and released
// when handed back (type 5); replies handed back twice, never, or that the
// engine never gave are reported as problems. Every non-null type-3 result
// of a component is copied and handed back with type 5 at once.
#ifndef QUON_HOST_ENGINE_H
#define QUON_HOST_ENGINE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "module_loader.h"
#include "panel_layout.h"
#include "quon_records.h"
#include "system_files.h"
#include "trace.h"

class host_engine {
public:
    explicit host_engine(const system_description& system);
    // Destroys the remaining components, in the order they were created,
    // without tracing.
    ~host_engine();

    host_engine(const host_engine&) = delete;
    host_engine& operator=(const host_engine&) = delete;

    void onTrace(std::function<void(const trace_event&)> sink) { trace_ = std::move(sink); }

    // Components. `layoutFolder` is the path text the component receives.
    enum class create_status { created, bad_name, load_failed };
    create_status create(const std::string& name, const std::string& modulePath, const std::string& layoutFolder,
                         std::string& error);
    bool destroy(const std::string& name, std::string& error);
    // Destroys every component, in the order they were created.
    void destroyAll();
    bool exists(const std::string& name) const;
    std::vector<std::string> components() const;

    // Messages to a component. `reply` is the parent command's reply text,
    // or nullopt for null.
    bool parent(const std::string& name, const char* text, std::optional<std::string>& reply, std::string& error);
    bool button(const std::string& name, const std::string& id, const std::string& event, std::string& error);
    bool value(const std::string& name, int32_t value, std::string& error);

    // The simulated routers.
    bool route(int device, int destination, int source, std::string& error);
    // Takes every route of `routes` (destination, source) at once; the
    // revertives are delivered after all of them are taken.
    bool salvo(int device, const std::vector<std::pair<int, int>>& routes, std::string& error);
    bool rename(int device, int database, int index, const std::string& text, std::string& error);
    bool setAnswers(int device, bool answers, std::string& error);
    std::optional<int> crosspoint(int device, int destination) const;

    // The host clock, in milliseconds; timers fire as it moves.
    void advance(uint64_t milliseconds);
    uint64_t now() const { return now_; }

    // Inspection. A step is one action of a scenario: commands are
    // collected per component from one beginStep() to the next.
    void beginStep();
    std::vector<std::string> commandsThisStep(const std::string& name) const;
    std::optional<std::string> property(const std::string& name, const std::string& panel, const std::string& control,
                                        const std::string& property) const;
    // The latest parent notifications of a component (the last 256).
    std::vector<std::string> notifications(const std::string& name) const;
    // One line: the text and state sheet of `myMimic` on panel "1".
    std::string display(const std::string& name) const;
    // Protocol violations and ownership faults, in the order seen.
    const std::vector<std::string>& problems() const { return problems_; }
    size_t liveTimers() const { return timerQueue_.size(); }

private:
    struct slot;
    struct router_state;
    struct pending {
        uint64_t slot;
        int type;
        revertiveRecord revertive;
        databaseRecord database;
        intptr_t carried;
    };

    slot* find(const std::string& name) const;
    router_state* router(int device);
    char* fromComponent(slot& s, void* data, int type);
    char* execute(slot& s, const std::string& text);
    void traceCommand(const slot& s, const std::string& text, const char* reply);
    char* reply(slot& s, const std::string& text);
    void handBackFromComponent(slot& s, void* data);
    void registerIndices(slot& s, int device, int first, int last, bool add);
    void unregister(slot& s, int device);
    void startTimer(slot& s, int id, int interval);
    void stopTimer(slot& s, int id);
    void enqueue(const pending& message);
    void drain();
    static std::string describe(const pending& message);
    void deliver(slot& s, int type, void* data);
    void traceEvent(const std::string& component, trace_direction direction, int type, const std::string& name,
                    const std::string& text);
    void remark(const std::string& component, const std::string& kind, const std::string& text);
    void destroySlot(slot& s);

    module_cache modules_;
    std::map<int, std::unique_ptr<router_state>> routers_;
    std::map<std::string, std::string> instances_;
    std::map<uint64_t, std::unique_ptr<slot>> slots_;  // by creation sequence
    std::map<std::string, uint64_t> byName_;
    std::vector<pending> queue_;
    size_t queueHead_ = 0;
    std::set<std::tuple<uint64_t, uint64_t, int>> timerQueue_;  // due, slot, id
    uint64_t nextSequence_ = 1;
    uint64_t now_ = 0;
    int callDepth_ = 0;
    std::map<std::string, std::vector<std::string>> stepCommands_;  // by component name
    std::vector<std::string> problems_;
    std::function<void(const trace_event&)> trace_;
};

#endif
