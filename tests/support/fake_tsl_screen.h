// Fake TSL screens on 127.0.0.1, on a port the system picks, for the tests
// of whatever sends TSL UMD: everything runs on the io_context given at
// construction (borrowed; it outlives the screen).
#ifndef QUON_TEST_FAKE_TSL_SCREEN_H
#define QUON_TEST_FAKE_TSL_SCREEN_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

// One TSL 5 display message as a screen took it: the text is the bytes as
// sent, ASCII or UTF-16LE alike.
struct tsl5_shown {
    int index = 0;
    std::string text;
    bool operator==(const tsl5_shown& other) const { return index == other.index && text == other.text; }
};

// Receives datagrams: keeps each, and what each well-formed TSL 5 packet
// among them shows. Each time it wakes it takes every datagram waiting.
class fake_tsl_udp_screen {
public:
    explicit fake_tsl_udp_screen(boost::asio::io_context& io);
    fake_tsl_udp_screen(const fake_tsl_udp_screen&) = delete;
    fake_tsl_udp_screen& operator=(const fake_tsl_udp_screen&) = delete;

    std::uint16_t port() const;
    const std::vector<std::string>& datagrams() const { return datagrams_; }
    // Every display message of every TSL 5 packet, in the order received.
    const std::vector<tsl5_shown>& shown() const { return shown_; }

private:
    void receive();

    boost::asio::ip::udp::socket socket_;
    std::array<char, 4096> buffer_{};
    std::vector<std::string> datagrams_;
    std::vector<tsl5_shown> shown_;
};

// Accepts connections and keeps what each sends, unless told not to read
// (a screen that has stopped reading, whose socket fills up).
class fake_tsl_tcp_screen {
public:
    explicit fake_tsl_tcp_screen(boost::asio::io_context& io, bool reads = true, std::uint16_t port = 0);
    fake_tsl_tcp_screen(const fake_tsl_tcp_screen&) = delete;
    fake_tsl_tcp_screen& operator=(const fake_tsl_tcp_screen&) = delete;

    std::uint16_t port() const { return port_; }
    // Closes every connection and stops listening.
    void hangUp();
    // Listens again on the same port.
    void listenAgain() { listen(port_); }

    std::size_t connections() const { return connections_.size(); }
    // Connections the sender has not closed (a screen that reads only).
    std::size_t openConnections() const;
    // The packets that connection number `connection` brought, unwrapped.
    std::vector<std::string> packets(std::size_t connection) const;

private:
    struct connection;
    void listen(std::uint16_t port);
    void accept();
    void read(connection& c);

    boost::asio::io_context& io_;
    const bool reads_;
    std::uint16_t port_ = 0;
    std::unique_ptr<boost::asio::ip::tcp::acceptor> acceptor_;
    std::vector<std::shared_ptr<connection>> connections_;
};

#endif
