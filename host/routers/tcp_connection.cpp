#include "tcp_connection.h"

#include "quon/common/endpoint.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <type_traits>
#include <variant>

namespace quon::routers {

namespace {

std::string millisecondsText(std::chrono::milliseconds duration) { return std::to_string(duration.count()) + " ms"; }

tcp::tcp_carrier_settings carrierSettings(const router_settings& settings) {
    tcp::tcp_carrier_settings carrier;
    carrier.host = settings.host;
    carrier.port = settings.port;
    carrier.tls = settings.tls;
    carrier.caFile = settings.caFile;
    carrier.connectTimeout = settings.connectTimeout;
    carrier.backOffFirst = settings.backOffFirst;
    carrier.backOffCap = settings.backOffCap;
    carrier.jitterSeed = settings.jitterSeed;
    // Output the router has not taken yet; past this it is not reading.
    carrier.writeLimit = 1 << 20;
    return carrier;
}

}  // namespace

tcp_connection::tcp_connection(boost::asio::io_context& io, const router_settings& settings,
                               router_listener& listener, std::unique_ptr<router_client> client)
    : io_(io),
      settings_(settings),
      listener_(listener),
      client_(std::move(client)),
      carrier_(std::make_shared<tcp::tcp_carrier>(io, carrierSettings(settings), *this)),
      tickTimer_(io),
      clientTimer_(io) {}

void tcp_connection::start() {
    if (started_ || stopped_) return;
    started_ = true;
    carrier_->open();
}

void tcp_connection::stop() {
    stopped_ = true;
    carrier_->close();
    lose();
}

bool tcp_connection::requestRoute(int destination, int source) {
    if (!active() || !up_) return false;
    router_actions actions;
    if (!client_->requestRoute(destination, source, actions)) return false;
    apply(actions);
    return true;
}

void tcp_connection::poll(int firstDestination, int lastDestination) {
    if (!active() || !up_) return;
    router_actions actions;
    client_->poll(firstDestination, lastDestination, actions);
    apply(actions);
}

void tcp_connection::connected(const boost::asio::ip::tcp::endpoint&) {
    // The listener may drop the last handle from within a report.
    const auto self = shared_from_this();
    if (stopped_) return;
    ++generation_;
    connected_ = true;
    held_.newConnection();
    lastReceived_ = lastKeepAlive_ = std::chrono::steady_clock::now();
    // A connection reopened while up (act::reopen) is in a read only where
    // its client says so (act::read_start).
    if (!up_) {
        reading_ = true;
        readStarted_ = lastReceived_;
    }
    tick();
    router_actions actions;
    client_->connected(lastReceived_, actions);
    apply(actions);
}

void tcp_connection::received(const std::uint8_t* data, std::size_t size) {
    const auto self = shared_from_this();
    if (!active()) return;
    lastReceived_ = std::chrono::steady_clock::now();
    router_actions actions;
    client_->bytes(data, size, lastReceived_, actions);
    apply(actions);
}

void tcp_connection::failed(const tcp::tcp_failure& failure, std::chrono::milliseconds retryIn) {
    const auto self = shared_from_this();
    if (stopped_) return;
    const std::string why =
        tcp::failureText(failure, "router", peerHost_[0].empty() ? settings_.host : peerHost_[0],
                         settings_.connectTimeout) +
        elsewhere(peer_[0]);
    lose();
    listener_.routerDown(why, retryIn);
}

void tcp_connection::apply(const router_actions& actions) {
    const std::uint64_t generation = generation_;
    for (const router_action& action : actions) {
        if (!active() || generation != generation_) return;
        std::visit(
            [this, &action](const auto& a) {
                using kind = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<kind, act::send>) {
                    send(a.bytes, a.channel);
                } else if constexpr (std::is_same_v<kind, act::arm_timer>) {
                    armClientTimer(a.deadline);
                } else if constexpr (std::is_same_v<kind, act::crosspoint> || std::is_same_v<kind, act::label>) {
                    waiting_.push_back(action);
                } else if constexpr (std::is_same_v<kind, act::up>) {
                    reading_ = false;
                    flush();
                    declareUp(a.sources, a.destinations);
                } else if constexpr (std::is_same_v<kind, act::read_start>) {
                    if (up_ && !reading_) {
                        reading_ = true;
                        readStarted_ = std::chrono::steady_clock::now();
                    }
                } else if constexpr (std::is_same_v<kind, act::read_end>) {
                    if (up_) reading_ = false;
                } else if constexpr (std::is_same_v<kind, act::answered>) {
                    if (a.channel == 0 || a.channel == 1) askedAt_[a.channel].reset();
                } else if constexpr (std::is_same_v<kind, act::fail>) {
                    fail(a.why);
                } else if constexpr (std::is_same_v<kind, act::problem>) {
                    if (held_.take(a)) listener_.problem(a.text);
                } else if constexpr (std::is_same_v<kind, act::missing>) {
                    if (held_.take(a)) listener_.missing(a.text);
                } else if constexpr (std::is_same_v<kind, act::reopen>) {
                    // What came before on this connection is told before it ends.
                    if (a.channel == 0) flush();
                    if (active()) reopen(a);
                } else if constexpr (std::is_same_v<kind, act::remember>) {
                    remember(a.text);
                }
            },
            action);
    }
    if (active() && generation == generation_) flush();
}

void tcp_connection::flush() {
    if (reading_ || waiting_.empty()) return;
    // The listener may call in again (a component asks for a route), and
    // that call's list is flushed on its own.
    std::vector<router_action> news;
    news.swap(waiting_);
    auto end = std::remove_if(news.begin(), news.end(), [this](const router_action& action) {
        return !std::visit(
            [this](const auto& a) {
                using kind = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<kind, act::crosspoint> || std::is_same_v<kind, act::label>)
                    return held_.take(a);
                else
                    return false;
            },
            action);
    });
    news.erase(end, news.end());
    const std::uint64_t generation = generation_;
    for (const router_action& action : news)
        if (const auto* crosspoint = std::get_if<act::crosspoint>(&action)) {
            if (!active() || generation != generation_) return;
            listener_.crosspoint(crosspoint->destination, crosspoint->source);
        }
    for (const router_action& action : news)
        if (const auto* label = std::get_if<act::label>(&action)) {
            if (!active() || generation != generation_) return;
            listener_.label(label->database, label->index, label->text);
        }
}

void tcp_connection::send(const std::string& bytes, int channel) {
    if (!active()) return;
    // A refusal past the write limit fails the connection, reported through
    // failed().
    if (channel == 0)
        carrier_->send(bytes);
    else if (second_)
        second_->send(bytes);
}

void tcp_connection::tick() {
    // Fine enough that a hang is seen within a quarter of each limit.
    const auto interval = std::min({settings_.keepAliveInterval, settings_.keepAliveWait, settings_.silenceLimit}) / 4;
    tickTimer_.expires_after(std::max(interval, std::chrono::milliseconds(1)));
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    tickTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || stopped_ || generation != generation_) return;
        const auto now = std::chrono::steady_clock::now();
        // Bytes that came while this host was too busy to read them are not
        // a silence of the router's.
        const bool waiting = carrier_->unread() > 0 || (second_ && second_->unread() > 0);
        if (carrier_->unread() > 0) lastReceived_ = now;
        if (now - lastReceived_ > settings_.silenceLimit) {
            fail("nothing received for " + millisecondsText(settings_.silenceLimit));
            return;
        }
        if (second_ && second_->connected()) {
            if (second_->unread() > 0) secondLastReceived_ = now;
            if (now - secondLastReceived_ > settings_.silenceLimit) {
                fail("nothing received for " + millisecondsText(settings_.silenceLimit) + " on the second connection");
                return;
            }
        }
        // The answer may wait among the bytes not read yet.
        for (int channel : {0, 1})
            if (!waiting && askedAt_[channel] && now - *askedAt_[channel] > settings_.keepAliveWait) {
                fail("no answer to a keep-alive within " + millisecondsText(settings_.keepAliveWait) +
                     (channel == 0 ? "" : " on the second connection"));
                return;
            }
        // A keep-alive overdue: the router may have hung as it came, and
        // lost what it should have pushed meanwhile. Read it again now: what
        // it pushes waits in the read, so that no route it pushes once back
        // meets a name it lost. A router that hung answers neither, and is
        // lost at the keep-alive's wait.
        if (!waiting && up_ && !reading_ && client_->resyncsInPlace() && askedAt_[0] &&
            now - *askedAt_[0] > settings_.keepAliveWait / 4) {
            lastResync_ = now;
            router_actions actions;
            client_->resync(now, actions);
            apply(actions);
            if (!active() || generation != generation_) return;
        }
        // Everything the router pushes waits while a read is under way.
        if (up_ && reading_ && now - readStarted_ > settings_.silenceLimit) {
            fail("the router's state was not read again within " + millisecondsText(settings_.silenceLimit));
            return;
        }
        if (up_ && now - lastKeepAlive_ >= settings_.keepAliveInterval) {
            lastKeepAlive_ = now;
            router_actions actions;
            client_->keepAlive(now, actions);
            // What the client sent for it needs an answer, which the
            // client says came (act::answered).
            for (const router_action& action : actions)
                if (const auto* sent = std::get_if<act::send>(&action))
                    if (sent->channel == 0 || (sent->channel == 1 && second_ && second_->connected())) {
                        auto& asked = askedAt_[sent->channel];
                        if (!asked) asked = now;
                    }
            apply(actions);
        }
        if (active() && up_ && now - lastResync_ >= settings_.resyncInterval) {
            lastResync_ = now;
            router_actions actions;
            client_->resync(now, actions);
            apply(actions);
        }
        if (active() && generation == generation_) tick();
    });
}

void tcp_connection::armClientTimer(router_clock::time_point deadline) {
    clientTimer_.expires_at(deadline);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    // An expiry already queued when the timer is armed again still runs; the
    // client ignores a wake-up before the time it last asked for.
    clientTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || !active() || generation != generation_) return;
        router_actions actions;
        client_->timer(router_clock::now(), actions);
        apply(actions);
    });
}

void tcp_connection::declareUp(int sources, int destinations) {
    if (!active() || up_) return;
    up_ = true;
    lastResync_ = std::chrono::steady_clock::now();
    // Only a router that came up resets the back-off: a router that accepts
    // and then fails its protocol is not tried ever faster.
    carrier_->resetBackoff();
    listener_.routerUp(sources, destinations);
}

std::string tcp_connection::elsewhere(const std::string& peer) const {
    const std::string own = endpointText(settings_.host, settings_.port);
    return peer.empty() || peer == own ? std::string() : " (at " + peer + ", where the router said to connect)";
}

void tcp_connection::lose() {
    closeSecond();
    // The next attempt starts over at the router's own address.
    carrier_->setPeer(settings_.host, settings_.port, settings_.tls);
    peerHost_[0].clear();
    peerHost_[1].clear();
    peer_[0].clear();
    peer_[1].clear();
    ++generation_;
    connected_ = false;
    up_ = false;
    reading_ = false;
    waiting_.clear();
    askedAt_[0].reset();
    askedAt_[1].reset();
    client_->closed();
    tickTimer_.cancel();
    clientTimer_.cancel();
}

void tcp_connection::reopen(const act::reopen& where) {
    const int channel = where.channel == 0 ? 0 : 1;
    askedAt_[channel].reset();
    const std::string host = where.host.empty() ? settings_.host : where.host;
    const std::uint16_t port = where.host.empty() ? settings_.port : where.port;
    const bool tls = where.host.empty() ? settings_.tls : where.tls;
    peer_[channel] = endpointText(host, port);
    peerHost_[channel] = host;
    if (channel != 0) {
        if (!second_) second_ = std::make_shared<tcp::tcp_carrier>(io_, carrierSettings(settings_), secondListener_);
        second_->close();
        second_->setPeer(host, port, tls);
        second_->open();
        return;
    }
    // The client keeps its state and is not told closed(); up_ holds, so
    // the next connection's read reports only what changed.
    askedAt_[1].reset();
    closeSecond();
    ++generation_;
    connected_ = false;
    tickTimer_.cancel();
    clientTimer_.cancel();
    carrier_->setPeer(host, port, tls);
    // Not a failure: the back-off stays as it is, so that a router whose
    // next connection fails again and again is not tried ever faster.
    carrier_->reconnect();
}

void tcp_connection::remember(const std::string& text) {
    if (settings_.stateFile.empty()) return;
    // Written beside and renamed over, so that a crash leaves the old or
    // the new, never half of one.
    const std::string temporary = settings_.stateFile + ".new";
    std::string why;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) why = std::strerror(errno);
    }
    if (why.empty() && std::rename(temporary.c_str(), settings_.stateFile.c_str()) != 0) why = std::strerror(errno);
    if (why.empty()) return;
    std::remove(temporary.c_str());
    const act::problem problem{"state file", "what this router's link learnt cannot be kept in " +
                                                 settings_.stateFile + " (" + why +
                                                 "): a restart of this host may number it afresh"};
    if (held_.take(problem)) listener_.problem(problem.text);
}

void tcp_connection::secondConnected() {
    const auto self = shared_from_this();
    if (!active()) return;
    secondLastReceived_ = std::chrono::steady_clock::now();
    router_actions actions;
    client_->secondConnected(secondLastReceived_, actions);
    apply(actions);
}

void tcp_connection::secondReceived(const std::uint8_t* data, std::size_t size) {
    const auto self = shared_from_this();
    if (!active()) return;
    secondLastReceived_ = std::chrono::steady_clock::now();
    router_actions actions;
    client_->secondBytes(data, size, secondLastReceived_, actions);
    apply(actions);
}

void tcp_connection::secondFailed(const tcp::tcp_failure& failure) {
    const auto self = shared_from_this();
    if (!active()) return;
    // The router's failure: its first connection goes too, and is retried.
    fail(tcp::failureText(failure, "router", peerHost_[1].empty() ? settings_.host : peerHost_[1],
                          settings_.connectTimeout) +
         " (second connection" +
         (peer_[1].empty() ? std::string() : ", to " + peer_[1]) + ")");
}

void tcp_connection::closeSecond() {
    if (second_) second_->close();
}

void tcp_connection::fail(const std::string& why) {
    if (stopped_) return;
    const std::chrono::milliseconds wait = carrier_->fail();
    lose();
    listener_.routerDown(why, wait);
}

std::unique_ptr<router_connection> connectOverTcp(boost::asio::io_context& io, const router_settings& settings,
                                                  router_listener& listener, std::unique_ptr<router_client> client) {
    return std::make_unique<connection_handle>(
        std::make_shared<tcp_connection>(io, settings, listener, std::move(client)));
}

}  // namespace quon::routers
