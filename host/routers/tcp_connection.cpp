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

std::string tcp_connection::millisecondsText(std::chrono::milliseconds duration) {
    return std::to_string(duration.count()) + " ms";
}

tcp::tcp_carrier_settings tcp_connection::carrierSettings(const router_settings& settings) {
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

tcp_connection::tcp_connection(boost::asio::io_context& io, const router_settings& settings,
                               router_listener& listener, std::unique_ptr<router_client> client)
    : settings_(settings),
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
    // A connection made while up (reconnectAt()) is in a read only where
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
    const std::string why = failureText(failure);
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
                    if (a.channel == 0)
                        send(a.bytes);
                    else
                        carry(action);
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
                    if (a.channel == 0)
                        askedAt_.reset();
                    else
                        carry(action);
                } else if constexpr (std::is_same_v<kind, act::fail>) {
                    fail(a.why);
                } else if constexpr (std::is_same_v<kind, act::problem>) {
                    if (held_.take(a)) listener_.problem(a.text);
                } else if constexpr (std::is_same_v<kind, act::missing>) {
                    if (held_.take(a)) listener_.missing(a.text);
                } else if constexpr (std::is_same_v<kind, act::reopen>) {
                    carry(action);
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
    // Everything is held before anything is told: a listener told of one
    // route reads the others and every name as the router now has them.
    struct told_route {
        const act::crosspoint* route;
        bool changed;
    };
    std::vector<told_route> routes;
    std::vector<const act::label*> labels;
    for (const router_action& action : news)
        if (const auto* crosspoint = std::get_if<act::crosspoint>(&action)) {
            const held_state::news said = held_.take(*crosspoint);
            if (said != held_state::news::none) routes.push_back({crosspoint, said == held_state::news::changed});
        } else if (const auto* label = std::get_if<act::label>(&action); label && held_.take(*label)) {
            labels.push_back(label);
        }
    const std::uint64_t generation = generation_;
    for (std::size_t at = 0; at < routes.size(); ++at) {
        if (!active() || generation != generation_) {
            for (; at < routes.size(); ++at)
                if (routes[at].changed) held_.forget(routes[at].route->destination);
            return;
        }
        listener_.crosspoint(routes[at].route->destination, routes[at].route->source, routes[at].changed);
    }
    for (const act::label* label : labels) {
        if (!active() || generation != generation_) return;
        listener_.label(label->database, label->index, label->text);
    }
}

void tcp_connection::send(const std::string& bytes) {
    if (!active()) return;
    // A refusal past the write limit fails the connection, reported through
    // failed().
    carrier_->send(bytes);
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
        const bool waiting = carrier_->unread() > 0 || unreadElsewhere();
        if (carrier_->unread() > 0) lastReceived_ = now;
        if (now - lastReceived_ > settings_.silenceLimit) {
            fail("nothing received for " + millisecondsText(settings_.silenceLimit));
            return;
        }
        if (const std::string why = silentElsewhere(now); !why.empty()) {
            fail(why);
            return;
        }
        // The answer may wait among the bytes not read yet.
        if (!waiting && askedAt_ && now - *askedAt_ > settings_.keepAliveWait) {
            fail("no answer to a keep-alive within " + millisecondsText(settings_.keepAliveWait));
            return;
        }
        if (const std::string why = waiting ? std::string() : unansweredElsewhere(now); !why.empty()) {
            fail(why);
            return;
        }
        // A keep-alive overdue: the router may have hung as it came, and
        // lost what it should have pushed meanwhile. Read it again now: what
        // it pushes waits in the read, so that no route it pushes once back
        // meets a name it lost. A router that hung answers neither, and is
        // lost at the keep-alive's wait.
        if (!waiting && up_ && !reading_ && client_->resyncsInPlace() && askedAt_ &&
            now - *askedAt_ > settings_.keepAliveWait / 4) {
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
                if (const auto* sent = std::get_if<act::send>(&action)) {
                    if (sent->channel != 0)
                        askedElsewhere(sent->channel, now);
                    else if (!askedAt_)
                        askedAt_ = now;
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

void tcp_connection::lose() {
    ending();
    ++generation_;
    connected_ = false;
    up_ = false;
    reading_ = false;
    waiting_.clear();
    askedAt_.reset();
    client_->closed();
    tickTimer_.cancel();
    clientTimer_.cancel();
}

void tcp_connection::reconnectAt(const std::string& host, std::uint16_t port, bool tls) {
    askedAt_.reset();
    ++generation_;
    connected_ = false;
    tickTimer_.cancel();
    clientTimer_.cancel();
    carrier_->setPeer(host, port, tls);
    carrier_->reconnect();
}

void tcp_connection::carry(const router_action&) {}

std::string tcp_connection::failureText(const tcp::tcp_failure& failure) const {
    return tcp::failureText(failure, "router", settings_.host, settings_.connectTimeout);
}

std::string tcp_connection::silentElsewhere(std::chrono::steady_clock::time_point) { return {}; }

std::string tcp_connection::unansweredElsewhere(std::chrono::steady_clock::time_point) const { return {}; }

bool tcp_connection::unreadElsewhere() const { return false; }

void tcp_connection::askedElsewhere(int, std::chrono::steady_clock::time_point) {}

void tcp_connection::ending() {}

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

void tcp_connection::fail(const std::string& why) {
    if (stopped_) return;
    const std::chrono::milliseconds wait = carrier_->fail();
    lose();
    listener_.routerDown(why, wait);
}

}  // namespace quon::routers
