// held_state: what a connection holds of its router (the routes and labels
// reported, kept across connections) and which problems it reported on the
// current connection. It decides which of a client's actions reach the
// listener: every crosspoint (a keep-alive's answer only when it changes the
// route), a label only when it differs, a problem once per cause and
// connection, a missing part once per text and connection. Pure; one per connection, on its thread.
#ifndef QUON_ROUTERS_HELD_STATE_H
#define QUON_ROUTERS_HELD_STATE_H

#include <array>
#include <optional>
#include <set>
#include <string>

#include "quon/routers/numbered.h"
#include "quon/routers/router_actions.h"

namespace quon::routers {

class held_state {
public:
    // What a crosspoint is to the listener: nothing (a keep-alive's answer
    // that changes nothing), the route it held, or another.
    enum class news { none, same, changed };
    news take(const act::crosspoint& crosspoint);
    // Each returns whether the listener is to hear of it, and holds it.
    bool take(const act::label& label);
    bool take(const act::problem& problem) { return reported_.insert(problem.cause).second; }
    bool take(const act::missing& missing) { return reported_.insert("missing: " + missing.text).second; }
    // A route held but never told (the connection ended in the call before):
    // forgotten, so that it is news when it comes again.
    void forget(int destination) { routes_.erase(destination); }
    // Problems are reported again on a new connection; routes and labels are
    // kept, so that a reconnect reports only the labels that changed.
    void newConnection() { reported_.clear(); }

    const std::string* label(int database, int index) const;
    std::optional<int> source(int destination) const;

private:
    std::set<std::string> reported_;
    numbered<int> routes_;
    std::array<numbered<std::string>, 2> labels_;
};

}  // namespace quon::routers

#endif
