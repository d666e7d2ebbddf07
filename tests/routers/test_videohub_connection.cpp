// A Videohub connection against a fake Videohub on a loopback socket: what
// only Videohub does on a real socket, and what the link does under any
// protocol, tested once. What the client decides (the prelude in any
// pieces, pushes, labels that changed, poll) is in test_videohub_client.cpp;
// what every protocol's link does alike in test_every_protocol.cpp. Here:
// a prelude a byte a read, garbage reported while the link carries on,
// stop, a router served over TLS, names resolved and back-off.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "connection_test.h"
#include "quon/routers/videohub/videohub_client.h"
#include "test_ca.h"

using namespace std::chrono_literals;
using quon::fake::recording_listener;
namespace routers = quon::routers;

namespace {

class VideohubConnection : public quon::test::ConnectionTest {
protected:
    void SetUp() override { startWith(quon::fake::numberedState(8, 4)); }

    void startWith(quon::fake::router_state state, bool byteByByte = false) {
        router = quon::fake::makeFakeVideohub(io, std::move(state), byteByByte);
        connect(std::make_unique<routers::videohub_client>(settings));
    }
};

// Reads of a byte each: the connection hands the client every piece.
TEST_F(VideohubConnection, ReadsAPreludeSentOneByteAtATime) {
    link.reset();
    startWith(quon::fake::numberedState(8, 4), true);
    ASSERT_TRUE(waitUp());
    EXPECT_EQ(listener.ups[0], std::make_pair(8, 4));
    EXPECT_EQ(listener.crosspoints.size(), 4u);
    EXPECT_EQ(*link->label(routers::source_labels, 5), "Input 5");
}

TEST_F(VideohubConnection, GarbageIsReportedOnceAndTheLinkCarriesOn) {
    ASSERT_TRUE(waitUp());
    listener.clearEvents();
    std::string garbage = "\x01\x02\xFF\xFE nonsense\n\n";
    garbage += "VIDEO OUTPUT ROUTING:\nx y\n99 1\n1 99\n-3 2\n\n";
    garbage += "INPUT LABELS:\n2 bad\x01label\xFF\n\n";
    garbage += std::string(1 << 20, 'z') + "\n\n";
    garbage += "NAK\n\n";
    for (int i = 0; i < 3; ++i) router->sendGarbage(garbage);
    router->route(4, 5);
    ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(4, 5); }));
    EXPECT_TRUE(link->up());
    EXPECT_TRUE(listener.downs.empty());
    std::vector<std::string> problems = listener.problems;
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "a line longer than the limit was skipped",
                            "a malformed line in VIDEO OUTPUT ROUTING:",
                            "an index outside the router's size",
                            "input 3's label \"bad\\x01label\\xFF\" has control characters or bytes that are not "
                            "UTF-8; shown as \"bad?label\xC3\xBF\"",
                            "the router refused a request (NAK)",
                        }));
    EXPECT_EQ(*link->label(routers::source_labels, 3), "bad?label\xC3\xBF");
    EXPECT_EQ(link->source(4), 5);
}

TEST_F(VideohubConnection, NothingIsReportedAfterStop) {
    ASSERT_TRUE(waitUp());
    link->stop();
    listener.clearEvents();
    const std::size_t downs = listener.downs.size();
    router->route(1, 2);
    router->dropConnections();
    // Past the back-off cap and the keep-alive interval: every timer of the
    // stopped link that could still fire has fired before this one.
    boost::asio::steady_timer marker(io, 300ms);
    bool passed = false;
    marker.async_wait([&](const boost::system::error_code&) { passed = true; });
    ASSERT_TRUE(waitUntil([&] { return passed; }));
    EXPECT_TRUE(listener.crosspoints.empty());
    EXPECT_EQ(listener.downs.size(), downs);
    EXPECT_FALSE(link->up());
}

// TLS is the connection's, under any protocol: with the router's CA the
// link reads it as over plain TCP; without, the system's store does not
// know the test CA, and the router is down saying so, and tried again.
TEST_F(VideohubConnection, OverTlsTheRouterIsReadOnceItsCertificateVerifies) {
    const quon::test::test_ca ca;
    const quon::test::test_certificate certificate = ca.loopback();
    for (const bool withCaFile : {true, false}) {
        link.reset();
        listener = recording_listener();
        router = quon::fake::makeFakeVideohub(io, quon::fake::numberedState(8, 4));
        router->serveTls(certificate.certificateFile, certificate.keyFile);
        settings.tls = true;
        settings.caFile = withCaFile ? ca.caFile() : "";
        connect(std::make_unique<routers::videohub_client>(settings));
        if (withCaFile) {
            ASSERT_TRUE(waitUp());
            EXPECT_EQ(listener.crosspoints.size(), 4u);
            ASSERT_TRUE(link->requestRoute(1, 6));
            ASSERT_TRUE(waitUntil([&] { return listener.sawCrosspoint(1, 6); }));
            EXPECT_TRUE(listener.downs.empty());
        } else {
            ASSERT_TRUE(waitUntil([&] { return listener.downs.size() == 2; }));
            for (const auto& [why, retryIn] : listener.downs)
                EXPECT_EQ(why, "the router 127.0.0.1's certificate does not verify: unable to get local issuer "
                               "certificate");
            EXPECT_TRUE(listener.ups.empty());
            EXPECT_EQ(router->connectionsAccepted(), 2);
        }
    }
}

TEST_F(VideohubConnection, AHostNameIsResolvedAtEachConnect) {
    link.reset();
    settings = routers::router_settings();
    settings.host = "localhost";
    settings.backOffFirst = 10ms;
    settings.backOffCap = 20ms;
    connect(std::make_unique<routers::videohub_client>(settings));
    // Whichever of its addresses comes first, the one the router listens on
    // is tried too.
    ASSERT_TRUE(waitUntil([&] { return link->up(); }));
    EXPECT_TRUE(listener.downs.empty());
    router->dropConnections();
    ASSERT_TRUE(waitUntil([&] { return listener.downs.size() == 1 && link->up(); }));
    EXPECT_EQ(listener.downs[0].first, "the router closed the connection");
}

TEST_F(VideohubConnection, AnAbsentRouterIsRetriedWithBackOff) {
    const std::uint16_t port = router->port();
    link.reset();
    router.reset();  // nothing listens on the port now
    settings = routers::router_settings();
    settings.port = port;
    settings.backOffFirst = 20ms;
    settings.backOffCap = 80ms;
    settings.jitterSeed = 5;
    link = routers::connectOverTcp(io, settings, listener, std::make_unique<routers::videohub_client>(settings));
    link->start();
    ASSERT_TRUE(waitUntil([&] { return listener.downs.size() >= 4; }));
    for (const auto& [why, retryIn] : listener.downs) {
        EXPECT_EQ(why, "connect to 127.0.0.1:" + std::to_string(port) + " failed: Connection refused");
        EXPECT_LE(retryIn, 80ms);
    }
    EXPECT_GT(listener.downs[3].second, 40ms);  // the fourth wait is past half the cap
    EXPECT_TRUE(listener.ups.empty());
}

}  // namespace
