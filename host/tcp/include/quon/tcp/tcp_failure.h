// tcp_failure: why a tcp_carrier's connection, or an attempt at one,
// ended: the cause and the system's message, and the words for it that
// every user of the carrier shows (a router's state, a TSL screen's
// receiver), naming its peer. Pure; no state.
#ifndef QUON_TCP_TCP_FAILURE_H
#define QUON_TCP_TCP_FAILURE_H

#include <chrono>
#include <string>
#include <string_view>

namespace quon::tcp {

struct tcp_failure {
    enum class cause {
        unresolved,      // the name gave no address
        refused,         // the peer refused the connection
        timed_out,       // no connection within the time limit
        connect_failed,  // any other reason a connect failed
        peer_closed,     // the peer closed the connection
        read_failed,
        write_failed,
        backlog,  // more waited to be written than the limit allows
        untrusted,   // the peer's certificate did not verify, or is not for the name asked
        tls_failed,  // the TLS handshake failed otherwise, or did not end within the time limit
    };
    cause what = cause::connect_failed;
    // The system's message, where the cause has one ("no address" when a
    // name resolved to nothing; OpenSSL's, for TLS).
    std::string message;
    // The addresses of this attempt, in order, and the name they came from:
    // "host (a:p, [b]:p)", or "a:p" alone for a numeric address; for TLS,
    // the one connected to. Empty before the name resolved.
    std::string tried;
};

// The failure in words, for a log line or a page: "connect to 10.0.0.5:9990
// failed: Connection refused", "the router closed the connection", "the
// router 10.0.0.5's certificate does not verify: certificate has expired".
// `peer`
// names the other side ("router", "receiver"); `host` is the name asked
// for (an unresolved name has no address to show); `connectTimeout` the
// limit a timed-out attempt ran into.
std::string failureText(const tcp_failure& failure, std::string_view peer, const std::string& host,
                        std::chrono::milliseconds connectTimeout);

}  // namespace quon::tcp

#endif
