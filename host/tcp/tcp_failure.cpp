#include "quon/tcp/tcp_failure.h"

namespace quon::tcp {

std::string failureText(const tcp_failure& failure, std::string_view peer, const std::string& host,
                        std::chrono::milliseconds connectTimeout) {
    const std::string the = "the " + std::string(peer);
    switch (failure.what) {
    case tcp_failure::cause::unresolved:
        return "\"" + host + "\" did not resolve: " + failure.message;
    case tcp_failure::cause::timed_out:
        return "no connection to " + failure.tried + " within " + std::to_string(connectTimeout.count()) + " ms";
    case tcp_failure::cause::refused:
    case tcp_failure::cause::connect_failed:
        return "connect to " + failure.tried + " failed: " + failure.message;
    case tcp_failure::cause::peer_closed:
        return the + " closed the connection";
    case tcp_failure::cause::read_failed:
        return "read failed: " + failure.message;
    case tcp_failure::cause::write_failed:
        return "write failed: " + failure.message;
    case tcp_failure::cause::backlog:
        return the + " does not take what is sent to it";
    case tcp_failure::cause::untrusted:
        return the + " " + host + "'s certificate does not verify: " + failure.message;
    case tcp_failure::cause::tls_failed:
        return "TLS with " + failure.tried + " failed: " + failure.message;
    }
    return "failed: " + failure.message;  // not reached: every cause is above
}

}  // namespace quon::tcp
