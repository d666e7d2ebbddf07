// Accepts the web view's TCP connections and starts each (startConnection),
// within the limits of connections in all and per client; more are closed
// at once. Owns itself through its handlers, on the io_context's
// thread.
#ifndef QUON_WEB_LISTENER_H
#define QUON_WEB_LISTENER_H

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <string>

#include "server_state.h"

namespace quon::web {

class listener : public std::enable_shared_from_this<listener> {
public:
    listener(boost::asio::io_context& io, std::shared_ptr<server_state> server)
        : server_(std::move(server)), acceptor_(io), retry_(io) {}

    // Binds and listens on the settings' address and port; on failure
    // returns false with `error` set, and nothing is left open.
    bool open(std::string& error);
    // Accepts until close().
    void run();
    void close();
    // The bound port; 0 when closed.
    unsigned short port() const;

private:
    void accept();
    void onAccept(const boost::system::error_code& failure, boost::asio::ip::tcp::socket socket);

    std::shared_ptr<server_state> server_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
};

}  // namespace quon::web

#endif
