// The soak's fault relays: whatever they do to the way bytes and datagrams
// travel, a TCP relay passes every byte, in order; its reset reaches both
// sides as RST; a stall keeps the connection and what came meanwhile; a UDP relay's
// losses and doubles follow its seed, and its delays reorder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "fault_relay.h"
#include "run_until.h"

using namespace std::chrono_literals;
namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;

namespace {

const asio::ip::address loopback = asio::ip::make_address("127.0.0.1");

// A peer that echoes what it reads, behind a relay.
struct echo_through_relay {
    explicit echo_through_relay(quon::fake::tcp_faults faults = {})
        : acceptor(io, tcp::endpoint(loopback, 0)), relay(io, acceptor.local_endpoint(), 7, faults), client(io) {
        acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket s) {
            if (error) return;
            peer = std::make_unique<tcp::socket>(std::move(s));
            echo();
        });
        client.connect(tcp::endpoint(loopback, relay.port()));
    }
    void echo() {
        peer->async_read_some(asio::buffer(buffer), [this](const boost::system::error_code& error, std::size_t size) {
            if (error) {
                peerError = error;
                return;
            }
            asio::write(*peer, asio::buffer(buffer.data(), size));
            echo();
        });
    }
    // What comes back to the client until `size` bytes or an error.
    std::string readBack(std::size_t size) {
        std::string back;
        std::array<char, 4096> piece{};
        std::function<void()> more = [&] {
            client.async_read_some(asio::buffer(piece), [&](const boost::system::error_code& error, std::size_t n) {
                if (error) {
                    clientError = error;
                    return;
                }
                back.append(piece.data(), n);
                ++reads;
                if (back.size() < size) more();
            });
        };
        more();
        runUntil(io, [&] { return back.size() >= size || clientError; });
        return back;
    }

    asio::io_context io;
    tcp::acceptor acceptor;
    quon::fake::tcp_fault_relay relay;
    tcp::socket client;
    std::unique_ptr<tcp::socket> peer;
    std::array<char, 4096> buffer{};
    boost::system::error_code peerError, clientError;
    int reads = 0;
};

TEST(TcpFaultRelay, PassesEveryByteInOrderInPiecesBothWays) {
    echo_through_relay e({64, 5ms});
    std::string sent(100000, '\0');
    std::mt19937 random(3);
    for (char& c : sent) c = static_cast<char>(random());
    asio::write(e.client, asio::buffer(sent));
    EXPECT_EQ(e.readBack(sent.size()), sent);
    // Pieces of at most 64 bytes, twice over: far more reads than a
    // loopback would need.
    EXPECT_GT(e.reads, static_cast<int>(sent.size() / 4096));
}

TEST(TcpFaultRelay, AResetReachesBothSidesAsRst) {
    echo_through_relay e;
    asio::write(e.client, asio::buffer(std::string("hello")));
    ASSERT_EQ(e.readBack(5), "hello");
    e.relay.reset();
    e.readBack(1);
    EXPECT_EQ(e.clientError, asio::error::connection_reset) << e.clientError.message();
    runUntil(e.io, [&] { return bool(e.peerError); });
    EXPECT_EQ(e.peerError, asio::error::connection_reset) << e.peerError.message();
}

TEST(TcpFaultRelay, AStalledLinkStaysOpenAndPassesWhatCameMeanwhileAfterwards) {
    echo_through_relay e;
    e.relay.stall(200ms);
    asio::write(e.client, asio::buffer(std::string("late")));
    EXPECT_EQ(e.readBack(4), "late");
    EXPECT_FALSE(e.clientError);
    EXPECT_EQ(e.relay.connectionsAccepted(), 1);
}

// Datagrams numbered 0..n-1 through a relay of `seed`, in the order they come.
std::vector<int> throughUdpRelay(std::uint64_t seed, int n) {
    asio::io_context io;
    udp::socket receiver(io, udp::endpoint(loopback, 0));
    quon::fake::udp_fault_relay relay(io, receiver.local_endpoint(), seed, {0.2, 0.1, 20ms});
    udp::socket sender(io, udp::endpoint(loopback, 0));
    for (int i = 0; i < n; ++i)
        sender.send_to(asio::buffer(std::to_string(i)), udp::endpoint(loopback, relay.port()));
    std::vector<int> came;
    std::array<char, 16> buffer{};
    std::function<void()> receive = [&] {
        receiver.async_receive(asio::buffer(buffer), [&](const boost::system::error_code& error, std::size_t size) {
            if (error) return;
            came.push_back(std::stoi(std::string(buffer.data(), size)));
            receive();
        });
    };
    receive();
    runUntil(io, [&] {
        return relay.received() == static_cast<std::uint64_t>(n) && came.size() == n - relay.lost() + relay.doubled();
    });
    EXPECT_EQ(came.size(), n - relay.lost() + relay.doubled());
    return came;
}

TEST(UdpFaultRelay, LosesDoublesAndReordersAsItsSeedSays) {
    const std::vector<int> came = throughUdpRelay(11, 400);
    std::vector<int> sorted = came;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NE(came, sorted) << "some came out of order";
    EXPECT_LT(std::set<int>(came.begin(), came.end()).size(), 400u) << "some were lost";
    EXPECT_LT(std::set<int>(came.begin(), came.end()).size(), came.size()) << "some came twice";
    // The order depends on the delays' timers as well as the seed; which
    // were lost and doubled, on the seed alone.
    std::vector<int> again = throughUdpRelay(11, 400);
    std::sort(again.begin(), again.end());
    EXPECT_EQ(again, sorted);
}

}  // namespace
