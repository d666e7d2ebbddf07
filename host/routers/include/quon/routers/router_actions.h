// router_actions: what a protocol client asks of whatever carries it, in the
// order it must happen. A client has no socket and no clock; it is told what
// happened and when, and answers with these. Carrying them out (writing,
// waiting, reporting to the listener) is the connection's job
// (tcp_connection, two_channel_connection), or a test's.
//
// Numbers are the host's, from 1, as router_connection counts them.
//
// Channels: every protocol speaks on channel 0, the router's connection. A
// protocol that must hold two connections to the same address at once
// (NMOS: two WebSockets) has a two_channel_client, which opens channel 1
// with act::reopen; it lives inside channel 0's connection (any end of
// that ends it too) and a failure of it is the router's. Its events reach
// two_channel_client's second...() calls. Only a two_channel_client's
// connection carries act::reopen, and another channel than 0.
#ifndef QUON_ROUTERS_ROUTER_ACTIONS_H
#define QUON_ROUTERS_ROUTER_ACTIONS_H

#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace quon::routers {

using router_clock = std::chrono::steady_clock;

// Label databases, as act::label and router_connection::label() number them.
constexpr int source_labels = 0;       // the router's input names
constexpr int destination_labels = 1;  // the router's output names

namespace act {

// Bytes to write to the router, after everything asked before on the
// same channel.
struct send {
    std::string bytes;
    int channel = 0;
    bool operator==(const send& other) const { return bytes == other.bytes && channel == other.channel; }
};

// Wake the client (timer()) at or after this time. A client has one such
// time; a later arming replaces it, and a wake-up it no longer wants is one
// it ignores, so nothing is ever cancelled.
struct arm_timer {
    router_clock::time_point deadline;
    bool operator==(const arm_timer& other) const { return deadline == other.deadline; }
};

// The router reported `source` routed to `destination`. An answer the
// client asked for only to hear the router (a keep-alive) is news only when
// it differs from the route held.
struct crosspoint {
    int destination = 0;
    int source = 0;
    bool newsOnlyIfChanged = false;
    bool operator==(const crosspoint& other) const {
        return destination == other.destination && source == other.source &&
               newsOnlyIfChanged == other.newsOnlyIfChanged;
    }
};

// The router's text for a label; reported only where it differs from what
// is held.
struct label {
    int database = 0;
    int index = 0;
    std::string text;
    bool operator==(const label& other) const {
        return database == other.database && index == other.index && text == other.text;
    }
};

// The initial state is read: the router is up, with the sizes the router showed.
struct up {
    int sources = 0;
    int destinations = 0;
    bool operator==(const up& other) const { return sources == other.sources && destinations == other.destinations; }
};

// The connection cannot go on: drop it and try again later. Nothing after
// it in the same list is carried out.
struct fail {
    std::string why;
    bool operator==(const fail& other) const { return why == other.why; }
};

// Something the router sent was wrong; `text` is reported once per `cause`
// and connection.
struct problem {
    std::string cause;
    std::string text;
    bool operator==(const problem& other) const { return cause == other.cause && text == other.text; }
};

// Part of the router's state did not come, after asking again: the client
// carries on (or goes up) without it. `text` names the part, its path and
// what is shown instead; reported once per text and connection, and held
// as the router's state until the connection ends.
struct missing {
    std::string text;
    bool operator==(const missing& other) const { return text == other.text; }
};

// The answer to the keep-alive sent on `channel` came: the router is alive.
// Only this answers a keep-alive; a router that hung as it came, and pushes
// again since, has lost what it should have pushed meanwhile, and is lost.
struct answered {
    int channel = 0;
    bool operator==(const answered& other) const { return channel == other.channel; }
};

// A read of the router's whole state begins while up (a resync, a router
// that restarted): the crosspoints and labels that follow are held, unseen,
// until act::read_end, and then taken together, so that no one is told a
// name of one moment beside a route of another. The read at connect begins
// by itself and ends with act::up. A read that does not end within the
// silence limit fails the connection: the next one reads again.
struct read_start {
    bool operator==(const read_start&) const { return true; }
};
struct read_end {
    bool operator==(const read_end&) const { return true; }
};

// End this channel's connection and open the next one at once, staying
// up; the listener hears nothing of it. Channel 0: the client is told
// connected() again, and not closed(); channel 1 ends too; nothing after
// it in the same list is carried out. For a protocol whose connection
// cannot carry all it needs in turn (NMOS: an HTTP read, then a
// WebSocket). Channel 1: opened (or opened again), the client is told
// secondConnected(); the rest of the list is carried out. When the new
// connection cannot be made, the router goes down as for any failure.
// The new connection goes to `host` and `port` (over TLS when `tls`), for a
// protocol whose router names where to connect (NMOS: a subscription's
// ws_href); to the router's own address (Address=) when `host` is empty.
// A connection that fails is retried at the router's own address.
struct reopen {
    int channel = 0;
    std::string host;
    std::uint16_t port = 0;
    bool tls = false;
    bool operator==(const reopen& other) const {
        return channel == other.channel && host == other.host && port == other.port && tls == other.tls;
    }
};

// What the client learnt that should outlive the process (NMOS: the
// numbers it gave the senders and receivers it met): kept whole in the
// router's state file (router_settings::stateFile), replacing what was
// kept, and given back to the next client made for the router
// (router_settings::remembered).
struct remember {
    std::string text;
    bool operator==(const remember& other) const { return text == other.text; }
};

}  // namespace act

using router_action = std::variant<act::send, act::arm_timer, act::crosspoint, act::label, act::up, act::fail,
                                 act::problem, act::missing, act::reopen, act::read_start, act::read_end, act::answered,
                                 act::remember>;
using router_actions = std::vector<router_action>;

}  // namespace quon::routers

#endif
