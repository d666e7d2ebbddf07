// One page's WebSocket (/ws). Sends the full state once, then updates;
// keeps, while a message is being written, only which displays changed since
// (coalescing), and drops a page that falls too far behind. Owned by
// server_state::pages; runs on the io_context's thread.
#ifndef QUON_WEB_WEBSOCKET_SESSION_H
#define QUON_WEB_WEBSOCKET_SESSION_H

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "request_handler.h"
#include "server_state.h"

namespace quon::web {

class websocket_session : public std::enable_shared_from_this<websocket_session> {
public:
    // `address`: the client's, as server_state::connectionsFrom counts it.
    websocket_session(std::shared_ptr<server_state> server, boost::beast::tcp_stream&& stream, std::string address)
        : server_(std::move(server)), ws_(std::move(stream)), address_(std::move(address)) {}

    const std::string& address() const { return address_; }

    // Answers the upgrade `request`, then sends the full state.
    void accept(http_request request);

    bool open() const { return open_; }
    // Idle with nothing owed but what the next shared update holds.
    bool inStep(std::uint64_t flushedEvents) const {
        return open_ && !writing_ && pendingNames_.empty() && !pendingOrder_ && !pendingLinks_ &&
               sentEvents_ == flushedEvents;
    }

    // Sends the update shared by every page in step.
    void send(std::shared_ptr<const std::string> message, std::uint64_t eventsIncluded);
    // Notes changes to send when the message being written is out. Returns
    // false when the page is too far behind and has been dropped.
    bool queue(const std::vector<std::string>& names, bool order, bool links);
    // Closes the connection and leaves the server's pages.
    void drop();

private:
    void onAccept(const boost::system::error_code& failure);
    void read();
    void onRead(const boost::system::error_code& failure, std::size_t);
    void write(std::shared_ptr<const std::string> message);
    void onWrite(const boost::system::error_code& failure, std::size_t);
    void sendPending();

    std::shared_ptr<server_state> server_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    std::string address_;
    http_request request_;
    boost::beast::flat_buffer incoming_;
    std::shared_ptr<const std::string> outgoing_;
    bool open_ = false;
    bool writing_ = false;
    bool dropped_ = false;
    std::vector<std::string> pendingNames_;
    std::unordered_set<std::string> pendingSet_;
    bool pendingOrder_ = false;
    bool pendingLinks_ = false;
    std::uint64_t sentEvents_ = 0;
    std::size_t backlog_ = 0;  // display changes queued while the current message is written
};

}  // namespace quon::web

#endif
