// A router as the engine sees it. The engine serves the host commands
// that concern routers ("RR", "RU", "RP", "RN") and the operator's
// actions (route, rename, answer) through this interface alone; each
// protocol is one implementation, chosen by the device file's Protocol key
// through a router_registry. docs/architecture.md says how to add one; routers/ holds them.
//
// Threading: every call, both ways, happens on the host's one thread.
#ifndef QUON_ENGINE_ROUTER_BACKEND_H
#define QUON_ENGINE_ROUTER_BACKEND_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quon/engine/host_events.h"
#include "quon/engine/system_files.h"

namespace quon {

// What a router pushes to the engine. Owned by the engine, which outlives
// every backend it creates.
class router_events {
public:
    virtual ~router_events() = default;
    // The source routed to a destination: to every component watching that
    // destination when `requester` is 0, else to that one component (the
    // answer to its poll).
    virtual void revertive(int device, int destination, int source, uint64_t requester) = 0;
    // An entry name changed: to every component watching the device.
    virtual void nameChanged(int device, int database, int index) = 0;
    // The router's link or answering changed.
    virtual void statusChanged(int device) = 0;
    // Something worth telling the user (a size that differs from the
    // device file, what a router sent wrong).
    virtual void routerWarning(int device, const std::string& text) = 0;
};

class router_backend {
public:
    virtual ~router_backend() = default;

    virtual router_status status() const = 0;
    // The destinations components may watch (from the device file).
    virtual int destinations() const = 0;
    // "RP": revertives for first..last to `requester`, now or when the
    // router answers; nothing while it does not answer.
    virtual void poll(int first, int last, uint64_t requester) = 0;
    // "RN": the entry's name, or null when the router holds none.
    virtual const std::string* name(int database, int index) const = 0;
    // The routed source the host knows of; 0 for none known.
    virtual int crosspoint(int destination) const = 0;
    // Bytes the router sent wait unread (a router on the network); what
    // can wait, a large wall's next displays, waits for them.
    virtual bool unread() const { return false; }

    // The operator's actions. False with a reason when this router cannot.
    virtual bool route(int destination, int source, std::string& error) = 0;
    virtual bool rename(int database, int index, const std::string& text, std::string& error) = 0;
    virtual bool setAnswers(bool answers, std::string& error) = 0;

    // At a reload, the device file is the same but for its entry names,
    // perhaps (database -> index -> name). A backend whose names are the
    // file's renames each entry the file changed (telling the engine
    // through nameChanged) and says whether the file's names changed; one
    // whose names come from the router keeps its own: false.
    virtual bool reloadNames(const std::map<int, std::map<int, std::string>>& /*names*/) { return false; }

    // Connections start here, not in the constructor, so that the engine
    // is ready for what they report.
    virtual void start() {}
    virtual void stop() {}
};

using router_factory =
    std::function<std::unique_ptr<router_backend>(const router_description&, router_events&, std::string& error)>;

// The protocols a host knows, by the lower-case name of the device file's
// Protocol key.
class router_registry {
public:
    // `keys`: the [Router] keys the protocol reads besides Name and
    // Protocol, as the documents spell them.
    void add(const std::string& protocol, router_factory factory, std::vector<std::string> keys) {
        factories_[protocol] = {std::move(factory), std::move(keys)};
    }
    // A backend for the device, or null with a reason (an unknown protocol,
    // a bad address) that begins with where: "dev_NNN.ini:LINE: " (a
    // factory's errors do too; description.place() writes it).
    std::unique_ptr<router_backend> create(const router_description& description, router_events& events,
                                           std::string& error) const;
    std::string protocols() const;  // "simulated, videohub, ..." for messages
    // A warning, "file:line: ...", for each [Router] key of the device file
    // that its protocol does not read (a misspelt key is otherwise ignored),
    // unless keyErrors() says it.
    void checkKeys(const router_description& description, std::vector<std::string>& warnings) const;
    // What makes the device file's router other than it says, "file:line:
    // ...": a key no protocol reads within two letters of one that some
    // protocol does (a typo, "unknown key Protocl; did you mean
    // Protocol?"), and an Address without a Protocol (which would be a
    // simulated router).
    std::vector<std::string> keyErrors(const router_description& description) const;

private:
    // The key of some protocol (or Name, Protocol) that `key` (lower case),
    // read by none, is within two letters of; "" when none is.
    std::string nearestKey(const std::string& key, const std::string& protocol) const;

    struct protocol {
        router_factory factory;
        std::vector<std::string> keys;
    };
    std::map<std::string, protocol> factories_;
};

}  // namespace quon

#endif
