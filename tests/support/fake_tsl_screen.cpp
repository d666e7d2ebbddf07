#include "fake_tsl_screen.h"

#include <boost/asio/ip/address.hpp>

#include "tsl_decoder.h"

namespace asio = boost::asio;
using boost::system::error_code;

namespace {
const asio::ip::address loopback = asio::ip::make_address("127.0.0.1");
}

fake_tsl_udp_screen::fake_tsl_udp_screen(asio::io_context& io) : socket_(io, asio::ip::udp::endpoint(loopback, 0)) {
    // Room for a salvo while the loop is busy sending it (the system caps
    // the size asked for).
    error_code ignored;
    socket_.set_option(asio::socket_base::receive_buffer_size(4 << 20), ignored);
    socket_.non_blocking(true);
    receive();
}

std::uint16_t fake_tsl_udp_screen::port() const { return socket_.local_endpoint().port(); }

// Takes every datagram waiting each time it wakes, as a screen that keeps
// up would.
void fake_tsl_udp_screen::receive() {
    socket_.async_wait(asio::socket_base::wait_read, [this](const error_code& error) {
        if (error) return;
        while (true) {
            error_code receiveError;
            const std::size_t size = socket_.receive(asio::buffer(buffer_), 0, receiveError);
            if (receiveError) break;
            datagrams_.emplace_back(buffer_.data(), size);
            if (const auto packet = decodeTsl5(datagrams_.back())) {
                for (const decoded_message& message : packet->messages)
                    shown_.push_back({message.index, message.textBytes});
            }
        }
        receive();
    });
}

struct fake_tsl_tcp_screen::connection {
    explicit connection(asio::io_context& io) : socket(io) {}
    asio::ip::tcp::socket socket;
    std::string stream;
    std::array<char, 4096> buffer{};
    bool ended = false;  // the sender closed it, or it broke
};

fake_tsl_tcp_screen::fake_tsl_tcp_screen(asio::io_context& io, bool reads, std::uint16_t port)
    : io_(io), reads_(reads) {
    listen(port);
}

void fake_tsl_tcp_screen::hangUp() {
    error_code ignored;
    acceptor_->close(ignored);
    for (auto& c : connections_) c->socket.close(ignored);
}

std::size_t fake_tsl_tcp_screen::openConnections() const {
    std::size_t open = 0;
    for (const auto& c : connections_) open += c->ended ? 0 : 1;
    return open;
}

std::vector<std::string> fake_tsl_tcp_screen::packets(std::size_t connection) const {
    return unwrapTsl5Stream(connections_[connection]->stream);
}

void fake_tsl_tcp_screen::listen(std::uint16_t port) {
    acceptor_ = std::make_unique<asio::ip::tcp::acceptor>(io_);
    const asio::ip::tcp::endpoint endpoint(loopback, port);
    acceptor_->open(endpoint.protocol());
    // Listening again on the port just closed must not wait out TIME_WAIT.
    acceptor_->set_option(asio::socket_base::reuse_address(true));
    acceptor_->bind(endpoint);
    acceptor_->listen();
    port_ = acceptor_->local_endpoint().port();
    accept();
}

void fake_tsl_tcp_screen::accept() {
    auto next = std::make_shared<connection>(io_);
    acceptor_->async_accept(next->socket, [this, next](const error_code& error) {
        if (error) return;
        connections_.push_back(next);
        if (reads_) read(*next);
        accept();
    });
}

void fake_tsl_tcp_screen::read(connection& c) {
    c.socket.async_read_some(asio::buffer(c.buffer), [this, &c](const error_code& error, std::size_t size) {
        if (error) {
            c.ended = true;
            return;
        }
        c.stream.append(c.buffer.data(), size);
        read(c);
    });
}
