// fault_relay: a facility's bad network between the host and what it talks
// to, on loopback. A TCP relay accepts the host's connections and opens one
// to the real peer for each; what either side sends is passed on in pieces
// cut anywhere (down to one byte), each late by up to a bound but never out
// of order, and can be stalled (nothing passed either way, the connections
// open) or reset (both sides ended with RST). A UDP relay takes the host's
// datagrams and passes them on, some lost, some twice, each late by up to a
// bound, so that they come in another order. Every random choice comes from
// the seed.
//
// Everything runs on the io_context given at construction (borrowed; it
// outlives the relay). calm() ends the faults: from then on what comes is
// passed on whole and at once (what waits still goes, in order).
#ifndef QUON_TEST_FAULT_RELAY_H
#define QUON_TEST_FAULT_RELAY_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <set>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

namespace quon::fake {

struct tcp_faults {
    std::size_t largestPiece = 256;                 // a piece is 1 to this many bytes
    std::chrono::milliseconds longestDelay{20};     // a piece is late by 0 to this
};

class tcp_fault_relay {
public:
    tcp_fault_relay(boost::asio::io_context& io, boost::asio::ip::tcp::endpoint peer, std::uint64_t seed,
                    tcp_faults faults = {});
    ~tcp_fault_relay();
    tcp_fault_relay(const tcp_fault_relay&) = delete;
    tcp_fault_relay& operator=(const tcp_fault_relay&) = delete;

    std::uint16_t port() const { return port_; }
    // Nothing passes either way for `duration`; what comes meanwhile waits.
    void stall(std::chrono::milliseconds duration);
    // Every connection ended with RST on both sides.
    void reset();
    void calm();
    int connectionsAccepted() const { return accepted_; }
    int resets() const { return resets_; }

private:
    struct link;
    struct pump;
    void accept();

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::endpoint peer_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::mt19937_64 random_;
    tcp_faults faults_;
    bool calm_ = false;
    std::chrono::steady_clock::time_point stalledUntil_{};
    std::set<std::shared_ptr<link>> links_;
    int accepted_ = 0;
    int resets_ = 0;
};

struct udp_faults {
    double lost = 0.05;                          // of datagrams, never passed on
    double doubled = 0.01;                       // of datagrams, passed on twice
    std::chrono::milliseconds longestDelay{50};  // each copy is late by 0 to this
};

class udp_fault_relay {
public:
    udp_fault_relay(boost::asio::io_context& io, boost::asio::ip::udp::endpoint peer, std::uint64_t seed,
                    udp_faults faults = {});
    ~udp_fault_relay();
    udp_fault_relay(const udp_fault_relay&) = delete;
    udp_fault_relay& operator=(const udp_fault_relay&) = delete;

    std::uint16_t port() const { return port_; }
    void calm();
    std::uint64_t received() const;
    std::uint64_t lost() const;
    std::uint64_t doubled() const;

private:
    struct state;
    std::shared_ptr<state> state_;  // shared with the handlers, which may outlive the relay
    std::uint16_t port_ = 0;
};

}  // namespace quon::fake

#endif
