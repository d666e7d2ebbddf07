// Why a TCP connection ended, in the words every user of the carrier
// shows, for the failures no peer on loopback can bring about: a name that
// does not resolve, a connect the system refuses before any peer answers,
// a write the system fails. The others are worded where a real socket
// brings them about (test_tcp_carrier.cpp).
#include <gtest/gtest.h>

#include "quon/tcp/tcp_failure.h"

using quon::tcp::tcp_failure;
using namespace std::chrono_literals;

namespace {

TEST(TcpFailure, AFailureNoLoopbackPeerCausesNamesWhatWasTriedAndTheSystemsMessage) {
    const struct {
        tcp_failure failure;
        const char* text;
    } cases[] = {
        {{tcp_failure::cause::unresolved, "no address", ""}, "\"studio-router\" did not resolve: no address"},
        {{tcp_failure::cause::connect_failed, "Network is unreachable", "192.0.2.5:9"},
         "connect to 192.0.2.5:9 failed: Network is unreachable"},
        {{tcp_failure::cause::write_failed, "Broken pipe", ""}, "write failed: Broken pipe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quon::tcp::failureText(c.failure, "receiver", "studio-router", 2500ms), c.text);
}

}  // namespace
