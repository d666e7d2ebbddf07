// One tally page's WebSocket (/ws/tally/NAME), plain or over TLS
// (`Stream`): the state of the one display or source it follows, whole in
// every message, so that a page behind is sent only the latest and a
// thousand of them cost the host a message each per change of what they
// follow, and nothing for the rest of the wall. Owned by
// server_state::tallyPages; runs on the io_context's thread.
#ifndef QUON_WEB_TALLY_SESSION_H
#define QUON_WEB_TALLY_SESSION_H

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <memory>
#include <string>

#include "connection.h"
#include "server_state.h"

namespace quon::web {

template <class Stream>
class tally_session : public tally_connection, public std::enable_shared_from_this<tally_session<Stream>> {
public:
    tally_session(std::shared_ptr<server_state> server, Stream&& stream, std::string address,
                  wall_model::tally_target target)
        : server_(std::move(server)), ws_(std::move(stream)), address_(std::move(address)), target_(std::move(target)) {}

    const std::string& address() const override { return address_; }
    const http_request& opening() const override { return request_; }
    const wall_model::tally_target& target() const override { return target_; }

    // Answers the upgrade `request`, then follows the target.
    void accept(http_request request);
    void show(std::shared_ptr<const std::string> message) override;
    void drop() override;

private:
    void onAccept(const boost::system::error_code& failure);
    void read();
    void onRead(const boost::system::error_code& failure, std::size_t);
    void onWrite(const boost::system::error_code& failure, std::size_t);

    std::shared_ptr<server_state> server_;
    boost::beast::websocket::stream<Stream> ws_;
    std::string address_;
    wall_model::tally_target target_;
    http_request request_;
    boost::beast::flat_buffer incoming_;
    std::shared_ptr<const std::string> outgoing_;
    std::shared_ptr<const std::string> waiting_;  // the latest, while one is written
    bool open_ = false;
    bool dropped_ = false;
};

}  // namespace quon::web

#endif
