// tcp_carrier against peers on loopback sockets (127.0.0.1, port 0; the one
// name resolved is localhost), over TLS against servers whose certificates
// a test CA signs. What the router links and the TSL receivers add on top
// is tested with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "quon/tcp/tcp_carrier.h"
#include "run_until.h"
#include "test_ca.h"

namespace asio = boost::asio;
using namespace std::chrono_literals;
using quon::tcp::tcp_carrier;
using quon::tcp::tcp_carrier_settings;
using quon::tcp::tcp_failure;
using quon::test::test_ca;
using quon::test::tls_server;

namespace {

// Everything the carrier told, in order.
struct recording_listener final : quon::tcp::tcp_carrier_listener {
    void resolving() override { ++resolves; }
    void connecting(const std::vector<asio::ip::tcp::endpoint>& endpoints) override { attempts.push_back(endpoints); }
    void connected(const asio::ip::tcp::endpoint& peer) override { peers.push_back(peer); }
    void received(const std::uint8_t* data, std::size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
    }
    void drained() override { ++drains; }
    void failed(const tcp_failure& failure, std::chrono::milliseconds retryIn) override {
        failures.push_back(failure);
        waits.push_back(retryIn);
    }

    int resolves = 0;
    std::vector<std::vector<asio::ip::tcp::endpoint>> attempts;
    std::vector<asio::ip::tcp::endpoint> peers;
    std::string bytes;
    int drains = 0;
    std::vector<tcp_failure> failures;
    std::vector<std::chrono::milliseconds> waits;
};

tcp_carrier_settings loopbackSettings(std::uint16_t port) {
    tcp_carrier_settings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.backOffFirst = 20ms;
    settings.backOffCap = 80ms;
    settings.jitterSeed = 3;
    return settings;
}

// The words a user of the carrier shows for the failure, naming the peer
// as a TSL receiver does.
std::string inWords(const tcp_failure& failure, const tcp_carrier_settings& settings) {
    return quon::tcp::failureText(failure, "receiver", settings.host, settings.connectTimeout);
}

// A port nothing listens on: bound once, then given up.
std::uint16_t closedPort(asio::io_context& io) {
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

struct loopback_peer {
    explicit loopback_peer(asio::io_context& io) : acceptor(io, {asio::ip::make_address("127.0.0.1"), 0}) {}
    std::uint16_t port() const { return acceptor.local_endpoint().port(); }
    // Accepts the next connection into `sockets`.
    void accept() {
        acceptor.async_accept([this](const boost::system::error_code& error, asio::ip::tcp::socket socket) {
            if (!error) sockets.push_back(std::make_unique<asio::ip::tcp::socket>(std::move(socket)));
        });
    }
    asio::ip::tcp::acceptor acceptor;
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> sockets;
};

TEST(TcpCarrier, AClosedPortIsTriedAgainWithGrowingJitteredWaits) {
    asio::io_context io;
    const std::uint16_t port = closedPort(io);
    recording_listener listener;
    const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(port), listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return listener.failures.size() >= 4; }));
    carrier->close();
    // Ceilings 20, 40, 80, 80 ms (the cap); each wait from the upper half.
    const std::chrono::milliseconds ceilings[] = {20ms, 40ms, 80ms, 80ms};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(listener.failures[i].what, tcp_failure::cause::refused);
        EXPECT_EQ(listener.failures[i].tried, "127.0.0.1:" + std::to_string(port));
        EXPECT_EQ(inWords(listener.failures[i], loopbackSettings(port)),
                  "connect to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused");
        EXPECT_GT(listener.waits[i], ceilings[i] / 2) << i;
        EXPECT_LE(listener.waits[i], ceilings[i]) << i;
    }
    EXPECT_EQ(listener.resolves, 0);  // a numeric address is not resolved
    EXPECT_TRUE(listener.peers.empty());
}

TEST(TcpCarrier, ANameIsResolvedAtEachAttemptAndItsAddressesTriedInTurn) {
    asio::io_context io;
    loopback_peer peer(io);
    peer.accept();
    recording_listener listener;
    tcp_carrier_settings settings = loopbackSettings(peer.port());
    settings.host = "localhost";
    const auto carrier = std::make_shared<tcp_carrier>(io, settings, listener);
    carrier->open();
    // localhost may name ::1 first, where nothing listens on this port.
    ASSERT_TRUE(runUntil(io, [&] { return !listener.peers.empty(); }));
    EXPECT_EQ(listener.resolves, 1);
    ASSERT_EQ(listener.attempts.size(), 1u);
    EXPECT_NE(std::find(listener.attempts[0].begin(), listener.attempts[0].end(),
                        asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), peer.port())),
              listener.attempts[0].end());
    EXPECT_EQ(listener.peers[0].address().to_string(), "127.0.0.1");
    EXPECT_TRUE(listener.failures.empty());

    // Once closed by the peer, the name is resolved again for the next try.
    peer.accept();
    ASSERT_TRUE(runUntil(io, [&] { return peer.sockets.size() == 1; }));
    peer.sockets[0]->close();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 2; }));
    EXPECT_EQ(listener.resolves, 2);
    carrier->close();
}

// A peer that resets the connection is a failed read, not a close.
TEST(TcpCarrier, APeerThatClosesIsReportedAfterWhatItSentAndConnectedAgainAndOneThatResetsIsAFailedRead) {
    asio::io_context io;
    loopback_peer peer(io);
    peer.accept();
    recording_listener listener;
    const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(peer.port()), listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return !listener.peers.empty() && peer.sockets.size() == 1; }));

    ASSERT_TRUE(carrier->send("ping"));
    std::string got(4, '\0');
    asio::read(*peer.sockets[0], asio::buffer(got));
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(runUntil(io, [&] { return listener.drains == 1; }));
    EXPECT_EQ(carrier->queued(), 0u);

    asio::write(*peer.sockets[0], asio::buffer(std::string("bye")));
    peer.sockets[0]->close();
    peer.accept();
    ASSERT_TRUE(runUntil(io, [&] { return listener.failures.size() == 1; }));
    EXPECT_EQ(listener.bytes, "bye");
    EXPECT_EQ(listener.failures[0].what, tcp_failure::cause::peer_closed);
    EXPECT_EQ(inWords(listener.failures[0], loopbackSettings(peer.port())), "the receiver closed the connection");
    EXPECT_FALSE(carrier->connected());
    EXPECT_FALSE(carrier->send("lost"));  // nothing is queued while down
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 2 && peer.sockets.size() == 2; }));

    peer.sockets[1]->set_option(asio::socket_base::linger(true, 0));
    peer.sockets[1]->close();
    ASSERT_TRUE(runUntil(io, [&] { return listener.failures.size() == 2; }));
    EXPECT_EQ(listener.failures[1].what, tcp_failure::cause::read_failed);
    EXPECT_EQ(inWords(listener.failures[1], loopbackSettings(peer.port())), "read failed: Connection reset by peer");
    carrier->close();
}

TEST(TcpCarrier, SendingPastTheWriteLimitFailsTheConnectionAndDropsWhatWaited) {
    asio::io_context io;
    loopback_peer peer(io);
    peer.accept();
    recording_listener listener;
    tcp_carrier_settings settings = loopbackSettings(peer.port());
    settings.writeLimit = 64 * 1024;
    const auto carrier = std::make_shared<tcp_carrier>(io, settings, listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return !listener.peers.empty(); }));

    // Nothing runs the loop between the sends, so no write completes: all
    // of it waits.
    const std::string chunk(16 * 1024, 'x');
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(carrier->send(chunk)) << i;
    EXPECT_EQ(carrier->queued(), 64u * 1024u);
    EXPECT_FALSE(carrier->send("y"));
    ASSERT_EQ(listener.failures.size(), 1u);
    EXPECT_EQ(listener.failures[0].what, tcp_failure::cause::backlog);
    EXPECT_EQ(inWords(listener.failures[0], settings), "the receiver does not take what is sent to it");
    EXPECT_EQ(carrier->queued(), 0u);
    EXPECT_FALSE(carrier->connected());
    EXPECT_TRUE(carrier->isOpen());  // and tries again
    EXPECT_GT(listener.waits[0], 10ms);
    EXPECT_LE(listener.waits[0], 20ms);
    carrier->close();
    EXPECT_FALSE(carrier->isOpen());
}

// A listener whose queue of connections is full (one made, none accepted)
// drops the next one's handshake: that connect ends at the time limit.
TEST(TcpCarrier, AConnectThePeerDoesNotTakeFailsAtTheTimeLimit) {
    asio::io_context io;
    asio::ip::tcp::acceptor full(io);
    full.open(asio::ip::tcp::v4());
    full.bind({asio::ip::make_address("127.0.0.1"), 0});
    full.listen(0);
    asio::ip::tcp::socket first(io);
    first.connect(full.local_endpoint());
    recording_listener listener;
    tcp_carrier_settings settings = loopbackSettings(full.local_endpoint().port());
    settings.connectTimeout = 200ms;
    const auto carrier = std::make_shared<tcp_carrier>(io, settings, listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return !listener.failures.empty(); }));
    carrier->close();
    EXPECT_EQ(listener.failures[0].what, tcp_failure::cause::timed_out);
    EXPECT_EQ(inWords(listener.failures[0], settings),
              "no connection to 127.0.0.1:" + std::to_string(settings.port) + " within 200 ms");
    EXPECT_TRUE(listener.peers.empty());
}

// close() ends the connection in order; abort() resets it, dropping what
// the kernel still held for the peer.
TEST(TcpCarrier, CloseEndsTheConnectionInOrderAndAbortResetsIt) {
    for (const bool aborted : {false, true}) {
        asio::io_context io;
        loopback_peer peer(io);
        peer.accept();
        recording_listener listener;
        const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(peer.port()), listener);
        carrier->open();
        ASSERT_TRUE(runUntil(io, [&] { return !listener.peers.empty() && peer.sockets.size() == 1; }));
        if (aborted)
            carrier->abort();
        else
            carrier->close();
        EXPECT_FALSE(carrier->isOpen());
        char byte = 0;
        boost::system::error_code error;
        peer.sockets[0]->read_some(asio::buffer(&byte, 1), error);
        const boost::system::error_code expected =
            aborted ? boost::system::error_code(asio::error::connection_reset) : boost::system::error_code(asio::error::eof);
        EXPECT_EQ(error, expected) << error.message();
    }
}

TEST(TcpCarrier, CloseStopsTheRetriesAndReportsNothingMore) {
    asio::io_context io;
    const std::uint16_t port = closedPort(io);
    recording_listener listener;
    const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(port), listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return listener.failures.size() == 1; }));
    carrier->close();
    io.restart();
    io.run();  // ends: nothing is pending once closed
    EXPECT_EQ(listener.failures.size(), 1u);
    EXPECT_EQ(listener.attempts.size(), 1u);
}

// reconnect() leaves the connection for a new one at once, and the back-off
// where it was: the wait after it is the third's (20, 40, 80 ms ceilings).
TEST(TcpCarrier, ReconnectConnectsAgainAtOnceKeepingTheBackOff) {
    asio::io_context io;
    loopback_peer peer(io);
    peer.accept();
    recording_listener listener;
    const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(peer.port()), listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 1 && peer.sockets.size() == 1; }));
    EXPECT_LE(carrier->fail(), 20ms);
    peer.accept();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 2 && peer.sockets.size() == 2; }));
    EXPECT_GT(carrier->fail(), 20ms);

    peer.accept();
    carrier->reconnect();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 3 && peer.sockets.size() == 3; }));
    const std::chrono::milliseconds third = carrier->fail();
    EXPECT_GT(third, 40ms);
    EXPECT_LE(third, 80ms);
    EXPECT_TRUE(listener.failures.empty());  // none of the drops is the listener's to hear of
    carrier->close();
}

// setPeer() moves the next connect and its retries, not the connection
// there is.
TEST(TcpCarrier, SetPeerSendsTheNextConnectAndItsRetriesThere) {
    asio::io_context io;
    loopback_peer first(io);
    loopback_peer second(io);
    first.accept();
    recording_listener listener;
    const auto carrier = std::make_shared<tcp_carrier>(io, loopbackSettings(first.port()), listener);
    carrier->open();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 1 && first.sockets.size() == 1; }));
    carrier->setPeer("127.0.0.1", second.port(), false);
    EXPECT_TRUE(carrier->connected());

    second.accept();
    carrier->reconnect();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 2; }));
    EXPECT_EQ(listener.peers[1].port(), second.port());
    second.accept();
    ASSERT_TRUE(runUntil(io, [&] { return second.sockets.size() == 1; }));
    second.sockets[0]->close();
    ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 3; }));
    EXPECT_EQ(listener.peers[2].port(), second.port());
    EXPECT_EQ(first.sockets.size(), 1u);
    carrier->close();
}

// A server that takes the ClientHello and answers as plain HTTP would.
struct plain_http_server {
    explicit plain_http_server(asio::io_context& io) : peer(io) { serve(); }
    void serve() {
        peer.acceptor.async_accept([this](const boost::system::error_code& error, asio::ip::tcp::socket socket) {
            if (error) return;
            auto held = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
            held->async_read_some(asio::buffer(hello), [held](const boost::system::error_code& readError, std::size_t) {
                if (readError) return;
                static const std::string answer = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
                asio::async_write(*held, asio::buffer(answer), [held](const boost::system::error_code&, std::size_t) {
                    boost::system::error_code ignored;
                    held->close(ignored);
                });
            });
            serve();
        });
    }
    loopback_peer peer;
    char hello[4096];
};

enum class tls_peer { loopback, another_name, tls11_only, plain_http, silent };

struct tls_case {
    const char* name;
    tls_peer peer;
    const char* host;
    bool withCaFile;
    const char* verifyName;
    // Empty: connected, the bytes go both ways and the peer's close is
    // seen; else the failure in words, the server's port for "{port}".
    const char* failure;
};

void PrintTo(const tls_case& c, std::ostream* out) { *out << c.name; }

class TcpCarrierTls : public testing::TestWithParam<tls_case> {};

TEST_P(TcpCarrierTls, VerifiesThePeerOrFailsSayingWhy) {
    const tls_case& c = GetParam();
    asio::io_context io;
    const test_ca ca;
    std::unique_ptr<tls_server> server;
    std::unique_ptr<plain_http_server> plain;
    std::unique_ptr<loopback_peer> silent;
    std::uint16_t port = 0;
    switch (c.peer) {
    case tls_peer::plain_http:
        plain = std::make_unique<plain_http_server>(io);
        port = plain->peer.port();
        break;
    case tls_peer::silent:
        silent = std::make_unique<loopback_peer>(io);
        silent->accept();
        port = silent->port();
        break;
    default:
        server = std::make_unique<tls_server>(
            io,
            quon::test::serverContext(c.peer == tls_peer::another_name ? ca.issue("other", {"192.0.2.1", "other.example"})
                                                                       : ca.loopback(),
                                      c.peer == tls_peer::tls11_only),
            "hello");
        port = server->port();
    }
    recording_listener listener;
    tcp_carrier_settings settings = loopbackSettings(port);
    settings.host = c.host;
    settings.tls = true;
    if (c.withCaFile) settings.caFile = ca.caFile();
    settings.verifyName = c.verifyName;
    if (c.peer == tls_peer::silent) settings.connectTimeout = 500ms;
    const auto carrier = std::make_shared<tcp_carrier>(io, settings, listener);
    carrier->open();

    if (*c.failure == '\0') {
        ASSERT_TRUE(runUntil(io, [&] { return listener.bytes == "hello"; })) << listener.bytes;
        ASSERT_EQ(listener.peers.size(), 1u);
        EXPECT_TRUE(carrier->send("ping"));
        ASSERT_TRUE(runUntil(io, [&] { return server->received() == "ping" && listener.drains == 1; }));
        server->closeClients();
        ASSERT_TRUE(runUntil(io, [&] { return !listener.failures.empty(); }));
        EXPECT_EQ(listener.failures[0].what, tcp_failure::cause::peer_closed);
        ASSERT_TRUE(runUntil(io, [&] { return listener.peers.size() == 2; }));  // and it comes back
    } else {
        ASSERT_TRUE(runUntil(io, [&] { return !listener.failures.empty(); }));
        std::string expected = c.failure;
        const std::size_t at = expected.find("{port}");
        if (at != std::string::npos) expected.replace(at, 6, std::to_string(port));
        EXPECT_EQ(quon::tcp::failureText(listener.failures[0], "router", c.host, settings.connectTimeout), expected);
        EXPECT_TRUE(listener.peers.empty());  // never told of a connection that did not verify
        EXPECT_FALSE(carrier->connected());
        EXPECT_TRUE(carrier->isOpen());  // and tries again
        if (server) {
            EXPECT_EQ(server->handshakes(), 0);
        }
    }
    carrier->close();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TcpCarrierTls,
    testing::Values(
        tls_case{"VerifiedByTheCaFileCarriesBytesBothWays", tls_peer::loopback, "127.0.0.1", true, "", ""},
        tls_case{"ADnsNameIsVerifiedToo", tls_peer::loopback, "localhost", true, "", ""},
        tls_case{"TheNameToVerifyCanDifferFromTheHost", tls_peer::loopback, "127.0.0.1", true, "localhost", ""},
        tls_case{"ACertificateTheSystemDoesNotKnowIsRefused", tls_peer::loopback, "127.0.0.1", false, "",
                 "the router 127.0.0.1's certificate does not verify: unable to get local issuer certificate"},
        tls_case{"ACertificateForAnotherAddressIsRefused", tls_peer::another_name, "127.0.0.1", true, "",
                 "the router 127.0.0.1's certificate does not verify: IP address mismatch"},
        tls_case{"ACertificateForAnotherNameIsRefused", tls_peer::another_name, "localhost", true, "",
                 "the router localhost's certificate does not verify: hostname mismatch"},
        tls_case{"AServerOfTls11AloneIsRefused", tls_peer::tls11_only, "127.0.0.1", true, "",
                 "TLS with 127.0.0.1:{port} failed: tlsv1 alert protocol version"},
        tls_case{"APlainServerFailsTheHandshake", tls_peer::plain_http, "127.0.0.1", true, "",
                 "TLS with 127.0.0.1:{port} failed: wrong version number"},
        tls_case{"ASilentServerFailsAtTheTimeLimit", tls_peer::silent, "127.0.0.1", true, "",
                 "TLS with 127.0.0.1:{port} failed: no handshake within 500 ms"}),
    [](const testing::TestParamInfo<tls_case>& info) { return std::string(info.param.name); });

}  // namespace
