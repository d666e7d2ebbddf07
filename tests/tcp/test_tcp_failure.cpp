// Why a TCP connection ended, in the words every user of the carrier
// shows: one line per cause, naming the peer, the addresses tried and the
// system's message.
#include <gtest/gtest.h>

#include "quon/tcp/tcp_failure.h"

using quon::tcp::tcp_failure;
using namespace std::chrono_literals;

namespace {

TEST(TcpFailure, EachCauseInWords) {
    const struct {
        tcp_failure failure;
        const char* text;
    } cases[] = {
        {{tcp_failure::cause::unresolved, "no address", ""}, "\"studio-router\" did not resolve: no address"},
        {{tcp_failure::cause::refused, "Connection refused", "127.0.0.1:9"},
         "connect to 127.0.0.1:9 failed: Connection refused"},
        {{tcp_failure::cause::timed_out, "", "studio-router (192.0.2.5:9, [::1]:9)"},
         "no connection to studio-router (192.0.2.5:9, [::1]:9) within 2500 ms"},
        {{tcp_failure::cause::connect_failed, "Network is unreachable", "192.0.2.5:9"},
         "connect to 192.0.2.5:9 failed: Network is unreachable"},
        {{tcp_failure::cause::peer_closed, "", ""}, "the receiver closed the connection"},
        {{tcp_failure::cause::read_failed, "Connection reset by peer", ""}, "read failed: Connection reset by peer"},
        {{tcp_failure::cause::write_failed, "Broken pipe", ""}, "write failed: Broken pipe"},
        {{tcp_failure::cause::backlog, "", ""}, "the receiver does not take what is sent to it"},
        {{tcp_failure::cause::untrusted, "certificate has expired", "studio-router (192.0.2.5:443)"},
         "the receiver studio-router's certificate does not verify: certificate has expired"},
        {{tcp_failure::cause::tls_failed, "wrong version number", "studio-router (192.0.2.5:443)"},
         "TLS with studio-router (192.0.2.5:443) failed: wrong version number"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quon::tcp::failureText(c.failure, "receiver", "studio-router", 2500ms), c.text);
}

}  // namespace
