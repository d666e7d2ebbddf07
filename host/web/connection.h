// What server_state knows of the connections it counts and feeds, whether
// they are plain or TLS: an HTTP connection it can close, and a page's
// WebSocket it sends updates to. Each lives on the io_context's thread.
#ifndef QUON_WEB_CONNECTION_H
#define QUON_WEB_CONNECTION_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "request_handler.h"

namespace quon::web {

// An HTTP connection (http_session); owns itself through its handlers.
class connection {
public:
    virtual ~connection() = default;
    // The client's address, as the limits per client count it.
    virtual const std::string& address() const = 0;
    virtual void close() = 0;
};

// A page's WebSocket (websocket_session); owned by server_state::pages.
class page_connection {
public:
    virtual ~page_connection() = default;
    virtual const std::string& address() const = 0;
    // The opening request, with what it was let in with (its cookie or
    // Authorization), for a check against a token changed since.
    virtual const http_request& opening() const = 0;
    virtual bool open() const = 0;
    // Idle with nothing owed but what the next shared update holds.
    virtual bool inStep(std::uint64_t flushedEvents) const = 0;
    // Sends the update shared by every page in step.
    virtual void send(std::shared_ptr<const std::string> message, std::uint64_t eventsIncluded) = 0;
    // Notes changes to send when the message being written is out. Returns
    // false when the page is too far behind and has been dropped.
    virtual bool queue(const std::vector<std::string>& names, bool order, bool links) = 0;
    // Closes the connection and leaves the server's pages.
    virtual void drop() = 0;
};

// A tally page's WebSocket (tally_session): one display's or source's
// state, whole in every message. Owned by server_state::tallyPages.
class tally_connection {
public:
    virtual ~tally_connection() = default;
    virtual const std::string& address() const = 0;
    virtual const http_request& opening() const = 0;
    virtual const wall_model::tally_target& target() const = 0;
    // Sends the state it follows; one given while a message is being
    // written replaces any other waiting, as each holds the whole state.
    virtual void show(std::shared_ptr<const std::string> message) = 0;
    virtual void drop() = 0;
};

}  // namespace quon::web

#endif
