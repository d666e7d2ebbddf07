#include "tcp_connection.h"

#include <algorithm>
#include <type_traits>
#include <variant>

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>

#include "quon/links/emberplus_client.h"
#include "quon/links/swp08_client.h"
#include "quon/links/videohub_client.h"

namespace quon::links {

namespace {

// Output the router has not taken yet; past this it is not reading.
constexpr std::size_t max_pending_output = 1 << 20;

std::uint32_t seedOf(const link_settings& settings) {
    if (settings.jitterSeed != 0) return settings.jitterSeed;
    return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string millisecondsText(std::chrono::milliseconds duration) { return std::to_string(duration.count()) + " ms"; }

}  // namespace

tcp_connection::tcp_connection(boost::asio::io_context& io, const link_settings& settings,
                               router_link_listener& listener, std::unique_ptr<link_client> client)
    : settings_(settings),
      listener_(listener),
      io_(io),
      client_(std::move(client)),
      resolver_(io),
      socket_(io),
      connectTimer_(io),
      retryTimer_(io),
      tickTimer_(io),
      clientTimer_(io),
      backoff_(settings.backOffFirst, settings.backOffCap, seedOf(settings)),
      port_(settings.port != 0 ? settings.port : client_->defaultPort()) {}

void tcp_connection::start() {
    if (started_ || stopped_) return;
    started_ = true;
    connect();
}

void tcp_connection::stop() {
    stopped_ = true;
    connected_ = false;
    up_ = false;
    ++generation_;
    client_->closed();
    boost::system::error_code ignored;
    resolver_.cancel();
    socket_.close(ignored);
    connectTimer_.cancel();
    retryTimer_.cancel();
    tickTimer_.cancel();
    clientTimer_.cancel();
}

bool tcp_connection::requestRoute(int destination, int source) {
    if (!active() || !up_) return false;
    link_actions actions;
    if (!client_->requestRoute(destination, source, actions)) return false;
    apply(actions);
    return true;
}

void tcp_connection::poll(int firstDestination, int lastDestination) {
    if (!active() || !up_) return;
    link_actions actions;
    client_->poll(firstDestination, lastDestination, actions);
    apply(actions);
}

void tcp_connection::connect() {
    const std::uint64_t generation = ++generation_;
    boost::system::error_code error;
    const boost::asio::ip::address address = boost::asio::ip::make_address(settings_.host, error);
    if (!error) {
        connectTo({boost::asio::ip::tcp::endpoint(address, port_)}, generation);
        return;
    }
    // A name is resolved anew at each connect (its address may move), by
    // Asio's resolver, which calls getaddrinfo off this thread.
    auto self = shared_from_this();
    resolver_.async_resolve(settings_.host, std::to_string(port_), boost::asio::ip::tcp::resolver::numeric_service,
                            [this, self, generation](const boost::system::error_code& resolveError,
                                                     const boost::asio::ip::tcp::resolver::results_type& results) {
                                if (stopped_ || generation != generation_) return;
                                if (resolveError || results.empty()) {
                                    fail("\"" + settings_.host + "\" did not resolve: " +
                                         (resolveError ? resolveError.message() : std::string("no address")));
                                    return;
                                }
                                std::vector<boost::asio::ip::tcp::endpoint> endpoints;
                                for (const auto& entry : results) endpoints.push_back(entry.endpoint());
                                connectTo(endpoints, generation);
                            });
}

void tcp_connection::connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints, std::uint64_t generation) {
    socket_ = boost::asio::ip::tcp::socket(io_);
    pending_.clear();
    writing_ = false;
    // What every failure of this attempt names: each address tried, in
    // order, and the name they came from.
    std::string tried;
    for (const auto& endpoint : endpoints) {
        const std::string address = endpoint.address().to_string();
        tried += (tried.empty() ? "" : ", ") + (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
                 std::to_string(endpoint.port());
    }
    if (endpoints.size() != 1 || endpoints.front().address().to_string() != settings_.host)
        tried = settings_.host + " (" + tried + ")";
    connectTimer_.expires_after(settings_.connectTimeout);
    auto self = shared_from_this();
    connectTimer_.async_wait([this, self, generation, tried](const boost::system::error_code& waitError) {
        if (waitError || stopped_ || generation != generation_ || connected_) return;
        fail("no connection to " + tried + " within " + millisecondsText(settings_.connectTimeout));
    });
    boost::asio::async_connect(socket_, endpoints,
                               [this, self, generation, tried](const boost::system::error_code& connectError,
                                                               const boost::asio::ip::tcp::endpoint&) {
                                   if (stopped_ || generation != generation_) return;
                                   if (connectError) {
                                       fail("connect to " + tried + " failed: " + connectError.message());
                                       return;
                                   }
                                   connectTimer_.cancel();
                                   connected_ = true;
                                   held_.newConnection();
                                   boost::system::error_code ignored;
                                   socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
                                   lastReceived_ = lastKeepAlive_ = std::chrono::steady_clock::now();
                                   tick();
                                   read();
                                   link_actions actions;
                                   client_->connected(lastReceived_, actions);
                                   apply(actions);
                               });
}

void tcp_connection::read() {
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    socket_.async_read_some(boost::asio::buffer(readBuffer_),
                            [this, self, generation](const boost::system::error_code& error, std::size_t size) {
                                if (stopped_ || generation != generation_) return;
                                if (error) {
                                    fail(error == boost::asio::error::eof
                                             ? std::string("the router closed the connection")
                                             : "read failed: " + error.message());
                                    return;
                                }
                                lastReceived_ = std::chrono::steady_clock::now();
                                link_actions actions;
                                client_->bytes(readBuffer_.data(), size, lastReceived_, actions);
                                apply(actions);
                                if (active() && generation == generation_) read();
                            });
}

void tcp_connection::apply(const link_actions& actions) {
    const std::uint64_t generation = generation_;
    for (const link_action& action : actions) {
        if (!active() || generation != generation_) return;
        std::visit(
            [this](const auto& a) {
                using kind = std::decay_t<decltype(a)>;
                if constexpr (std::is_same_v<kind, act::send>) {
                    send(a.bytes);
                } else if constexpr (std::is_same_v<kind, act::arm_timer>) {
                    armClientTimer(a.deadline);
                } else if constexpr (std::is_same_v<kind, act::crosspoint>) {
                    if (held_.take(a)) listener_.crosspoint(a.destination, a.source);
                } else if constexpr (std::is_same_v<kind, act::label>) {
                    if (held_.take(a)) listener_.label(a.database, a.index, a.text);
                } else if constexpr (std::is_same_v<kind, act::up>) {
                    declareUp(a.sources, a.destinations);
                } else if constexpr (std::is_same_v<kind, act::fail>) {
                    fail(a.why);
                } else if constexpr (std::is_same_v<kind, act::problem>) {
                    if (held_.take(a)) listener_.problem(a.text);
                }
            },
            action);
    }
}

void tcp_connection::send(const std::string& bytes) {
    if (!active()) return;
    if (pending_.size() + bytes.size() > max_pending_output) {
        fail("the router does not take what is sent to it");
        return;
    }
    pending_ += bytes;
    flush();
}

void tcp_connection::flush() {
    if (writing_ || pending_.empty()) return;
    writing_ = true;
    writingNow_.swap(pending_);
    pending_.clear();
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    boost::asio::async_write(socket_, boost::asio::buffer(writingNow_),
                             [this, self, generation](const boost::system::error_code& error, std::size_t) {
                                 if (stopped_ || generation != generation_) return;
                                 writing_ = false;
                                 writingNow_.clear();
                                 if (error) {
                                     fail("write failed: " + error.message());
                                     return;
                                 }
                                 flush();
                             });
}

void tcp_connection::tick() {
    const auto interval =
        std::min(settings_.keepAliveInterval, std::max(settings_.silenceLimit / 4, std::chrono::milliseconds(1)));
    tickTimer_.expires_after(std::max(interval, std::chrono::milliseconds(1)));
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    tickTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || stopped_ || generation != generation_) return;
        const auto now = std::chrono::steady_clock::now();
        // Bytes that came while this host was too busy to read them are not
        // a silence of the router's.
        boost::system::error_code ignored;
        if (socket_.available(ignored) > 0) lastReceived_ = now;
        if (now - lastReceived_ > settings_.silenceLimit) {
            fail("nothing received for " + millisecondsText(settings_.silenceLimit));
            return;
        }
        if (up_ && now - lastKeepAlive_ >= settings_.keepAliveInterval) {
            lastKeepAlive_ = now;
            link_actions actions;
            client_->keepAlive(now, actions);
            apply(actions);
        }
        if (active() && up_ && now - lastResync_ >= settings_.resyncInterval) {
            lastResync_ = now;
            link_actions actions;
            client_->resync(now, actions);
            apply(actions);
        }
        if (active() && generation == generation_) tick();
    });
}

void tcp_connection::armClientTimer(link_clock::time_point deadline) {
    clientTimer_.expires_at(deadline);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    // An expiry already queued when the timer is armed again still runs; the
    // client ignores a wake-up before the time it last asked for.
    clientTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || !active() || generation != generation_) return;
        link_actions actions;
        client_->timer(link_clock::now(), actions);
        apply(actions);
    });
}

void tcp_connection::declareUp(int sources, int destinations) {
    if (!active() || up_) return;
    up_ = true;
    lastResync_ = std::chrono::steady_clock::now();
    backoff_.reset();
    connectTimer_.cancel();
    listener_.linkUp(sources, destinations);
}

void tcp_connection::fail(const std::string& why) {
    if (stopped_) return;
    ++generation_;
    connected_ = false;
    up_ = false;
    client_->closed();
    boost::system::error_code ignored;
    socket_.close(ignored);
    connectTimer_.cancel();
    tickTimer_.cancel();
    clientTimer_.cancel();
    const std::chrono::milliseconds wait = backoff_.next();
    scheduleRetry(wait);
    listener_.linkDown(why, wait);
}

void tcp_connection::scheduleRetry(std::chrono::milliseconds wait) {
    retryTimer_.expires_after(wait);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    retryTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || stopped_ || generation != generation_) return;
        connect();
    });
}

std::unique_ptr<router_link> makeVideohubLink(boost::asio::io_context& io, const link_settings& settings,
                                              router_link_listener& listener) {
    return std::make_unique<link_handle>(
        std::make_shared<tcp_connection>(io, settings, listener, std::make_unique<videohub_client>(settings)));
}

std::unique_ptr<router_link> makeSwp08Link(boost::asio::io_context& io, const link_settings& settings,
                                           router_link_listener& listener) {
    return std::make_unique<link_handle>(
        std::make_shared<tcp_connection>(io, settings, listener, std::make_unique<swp08_client>(settings)));
}

std::unique_ptr<router_link> makeEmberplusLink(boost::asio::io_context& io, const link_settings& settings,
                                               router_link_listener& listener) {
    return std::make_unique<link_handle>(
        std::make_shared<tcp_connection>(io, settings, listener, std::make_unique<emberplus_client>(settings)));
}

}  // namespace quon::links
