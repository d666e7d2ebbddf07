#include "two_channel_connection.h"

#include "quon/common/endpoint.h"

#include <type_traits>
#include <variant>

namespace quon::routers {

two_channel_connection::two_channel_connection(boost::asio::io_context& io, const router_settings& settings,
                                               router_listener& listener, std::unique_ptr<two_channel_client> client)
    : tcp_connection(io, settings, listener, std::move(client)),
      io_(io),
      client_(static_cast<two_channel_client&>(tcp_connection::client())) {}

void two_channel_connection::carry(const router_action& action) {
    std::visit(
        [this](const auto& a) {
            using kind = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<kind, act::send>) {
                if (a.channel == 1 && second_) second_->send(a.bytes);
            } else if constexpr (std::is_same_v<kind, act::answered>) {
                if (a.channel == 1) secondAskedAt_.reset();
            } else if constexpr (std::is_same_v<kind, act::reopen>) {
                // What came before on this connection is told before it ends.
                if (a.channel == 0) flush();
                if (active()) reopen(a);
            }
        },
        action);
}

std::string two_channel_connection::failureText(const tcp::tcp_failure& failure) const {
    return tcp::failureText(failure, "router", peerHost_[0].empty() ? settings().host : peerHost_[0],
                            settings().connectTimeout) +
           elsewhere(peer_[0]);
}

std::string two_channel_connection::silentElsewhere(std::chrono::steady_clock::time_point now) {
    if (!second_ || !second_->connected()) return {};
    if (second_->unread() > 0) secondLastReceived_ = now;
    if (now - secondLastReceived_ <= settings().silenceLimit) return {};
    return "nothing received for " + millisecondsText(settings().silenceLimit) + " on the second connection";
}

std::string two_channel_connection::unansweredElsewhere(std::chrono::steady_clock::time_point now) const {
    if (!secondAskedAt_ || now - *secondAskedAt_ <= settings().keepAliveWait) return {};
    return "no answer to a keep-alive within " + millisecondsText(settings().keepAliveWait) +
           " on the second connection";
}

bool two_channel_connection::unreadElsewhere() const { return second_ && second_->unread() > 0; }

void two_channel_connection::askedElsewhere(int channel, std::chrono::steady_clock::time_point now) {
    if (channel == 1 && second_ && second_->connected() && !secondAskedAt_) secondAskedAt_ = now;
}

void two_channel_connection::ending() {
    if (second_) second_->close();
    // The next attempt starts over at the router's own address.
    carrier().setPeer(settings().host, settings().port, settings().tls);
    peerHost_[0].clear();
    peerHost_[1].clear();
    peer_[0].clear();
    peer_[1].clear();
    secondAskedAt_.reset();
}

void two_channel_connection::reopen(const act::reopen& where) {
    const std::string host = where.host.empty() ? settings().host : where.host;
    const std::uint16_t port = where.host.empty() ? settings().port : where.port;
    const bool tls = where.host.empty() ? settings().tls : where.tls;
    const int channel = where.channel == 0 ? 0 : 1;
    peer_[channel] = endpointText(host, port);
    peerHost_[channel] = host;
    secondAskedAt_.reset();
    if (channel != 0) {
        if (!second_) second_ = std::make_shared<tcp::tcp_carrier>(io_, carrierSettings(settings()), secondListener_);
        second_->close();
        second_->setPeer(host, port, tls);
        second_->open();
        return;
    }
    if (second_) second_->close();
    reconnectAt(host, port, tls);
}

std::string two_channel_connection::elsewhere(const std::string& peer) const {
    const std::string own = endpointText(settings().host, settings().port);
    return peer.empty() || peer == own ? std::string() : " (at " + peer + ", where the router said to connect)";
}

void two_channel_connection::secondConnected() {
    const auto self = shared_from_this();
    if (!active()) return;
    secondLastReceived_ = std::chrono::steady_clock::now();
    router_actions actions;
    client_.secondConnected(secondLastReceived_, actions);
    apply(actions);
}

void two_channel_connection::secondReceived(const std::uint8_t* data, std::size_t size) {
    const auto self = shared_from_this();
    if (!active()) return;
    secondLastReceived_ = std::chrono::steady_clock::now();
    router_actions actions;
    client_.secondBytes(data, size, secondLastReceived_, actions);
    apply(actions);
}

void two_channel_connection::secondFailed(const tcp::tcp_failure& failure) {
    const auto self = shared_from_this();
    if (!active()) return;
    // The router's failure: its first connection goes too, and is retried.
    fail(tcp::failureText(failure, "router", peerHost_[1].empty() ? settings().host : peerHost_[1],
                          settings().connectTimeout) +
         " (second connection" + (peer_[1].empty() ? std::string() : ", to " + peer_[1]) + ")");
}

}  // namespace quon::routers
