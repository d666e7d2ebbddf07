// One page's WebSocket (/ws), plain or over TLS (`Stream`). Sends the full
// state once, then updates; keeps, while a message is being written, only
// which displays changed since (coalescing), and drops a page that falls
// too far behind. Owned by server_state::pages; runs on the io_context's
// thread.
#ifndef QUON_WEB_WEBSOCKET_SESSION_H
#define QUON_WEB_WEBSOCKET_SESSION_H

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "connection.h"
#include "request_handler.h"
#include "server_state.h"

namespace quon::web {

template <class Stream>
class websocket_session : public page_connection, public std::enable_shared_from_this<websocket_session<Stream>> {
public:
    // `address`: the client's, as server_state::connectionsFrom counts it.
    websocket_session(std::shared_ptr<server_state> server, Stream&& stream, std::string address)
        : server_(std::move(server)), ws_(std::move(stream)), address_(std::move(address)) {}

    const std::string& address() const override { return address_; }
    const http_request& opening() const override { return request_; }

    // Answers the upgrade `request`, then sends the full state.
    void accept(http_request request);

    bool open() const override { return open_; }
    bool inStep(std::uint64_t flushedEvents) const override {
        return open_ && !writing_ && pendingNames_.empty() && !pendingOrder_ && !pendingLinks_ &&
               sentEvents_ == flushedEvents;
    }
    void send(std::shared_ptr<const std::string> message, std::uint64_t eventsIncluded) override;
    bool queue(const std::vector<std::string>& names, bool order, bool links) override;
    void drop() override;

private:
    void onAccept(const boost::system::error_code& failure);
    void read();
    void onRead(const boost::system::error_code& failure, std::size_t);
    void write(std::shared_ptr<const std::string> message);
    void onWrite(const boost::system::error_code& failure, std::size_t);
    void sendPending();

    std::shared_ptr<server_state> server_;
    boost::beast::websocket::stream<Stream> ws_;
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
