#include "listener.h"

#include "http_session.h"

namespace quon::web {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

}  // namespace

bool listener::open(std::string& error) {
    const web_settings& settings = server_->settings;
    error_code failure;
    const auto address = asio::ip::make_address(settings.address, failure);
    if (failure) {
        error = "\"" + settings.address + "\" is not a numeric IP address";
        return false;
    }
    const tcp::endpoint endpoint(address, settings.port);
    const auto fail = [&](const char* what) {
        error = std::string("cannot ") + what + " " + settings.address + ":" + std::to_string(settings.port) + ": " +
                failure.message();
        error_code ignored;
        acceptor_.close(ignored);
        return false;
    };
    if (acceptor_.open(endpoint.protocol(), failure)) return fail("open");
    if (acceptor_.set_option(asio::socket_base::reuse_address(true), failure)) return fail("configure");
    if (acceptor_.bind(endpoint, failure)) return fail("bind");
    if (acceptor_.listen(asio::socket_base::max_listen_connections, failure)) return fail("listen on");
    return true;
}

void listener::run() { accept(); }

void listener::close() {
    error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

unsigned short listener::port() const {
    error_code failure;
    const auto endpoint = acceptor_.local_endpoint(failure);
    return failure ? 0 : endpoint.port();
}

void listener::accept() {
    acceptor_.async_accept([self = shared_from_this()](const error_code& failure, tcp::socket socket) {
        self->onAccept(failure, std::move(socket));
    });
}

void listener::onAccept(const error_code& failure, tcp::socket socket) {
    if (!server_->running || failure == asio::error::operation_aborted) return;
    if (failure) {
        // Out of descriptors, say: try again shortly rather than spin.
        retry_.expires_after(std::chrono::milliseconds(100));
        retry_.async_wait([self = shared_from_this()](const error_code& aborted) {
            if (!aborted && self->server_->running) self->accept();
        });
        return;
    }
    const web_settings& settings = server_->settings;
    const std::string address = clientAddress(socket);
    const bool thisMachine = server_state::thisMachine(address);
    const std::size_t room = settings.limits.connections + (thisMachine ? settings.reservedForThisMachine : 0);
    const bool full = address.empty() || server_->connections() >= room;
    if (full || (!thisMachine && server_->connectionsFrom(address) >= settings.limits.connectionsPerClient)) {
        server_->refuse(full ? "connections" : "client", address);
        error_code ignored;
        socket.close(ignored);
    } else {
        startConnection(server_, std::move(socket));
    }
    accept();
}

}  // namespace quon::web
