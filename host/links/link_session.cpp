#include "link_session.h"

#include <algorithm>

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

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

link_session::link_session(boost::asio::io_context& io, const link_settings& settings, router_link_listener& listener,
                           std::uint16_t defaultPort)
    : settings_(settings),
      listener_(listener),
      io_(io),
      resolver_(io),
      socket_(io),
      connectTimer_(io),
      retryTimer_(io),
      tickTimer_(io),
      phaseTimer_(io),
      backoff_(settings.backOffFirst, settings.backOffCap, seedOf(settings)),
      port_(settings.port != 0 ? settings.port : defaultPort) {}

void link_session::start() {
    if (started_ || stopped_) return;
    started_ = true;
    connect();
}

void link_session::stop() {
    stopped_ = true;
    connected_ = false;
    up_ = false;
    ++generation_;
    boost::system::error_code ignored;
    resolver_.cancel();
    socket_.close(ignored);
    connectTimer_.cancel();
    retryTimer_.cancel();
    tickTimer_.cancel();
    phaseTimer_.cancel();
    ++phaseArm_;
}

void link_session::connect() {
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

void link_session::connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints,
                             std::uint64_t generation) {
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
                              reported_.clear();
                              boost::system::error_code ignored;
                              socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
                              lastReceived_ = lastKeepAlive_ = std::chrono::steady_clock::now();
                              tick();
                              read();
                              onConnected();
                          });
}

void link_session::read() {
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
                                onBytes(readBuffer_.data(), size);
                                if (active() && generation == generation_) read();
                            });
}

void link_session::send(const std::string& bytes) {
    send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void link_session::send(const std::uint8_t* bytes, std::size_t size) {
    if (!active()) return;
    if (pending_.size() + size > max_pending_output) {
        fail("the router does not take what is sent to it");
        return;
    }
    pending_.append(reinterpret_cast<const char*>(bytes), size);
    flush();
}

void link_session::flush() {
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

void link_session::tick() {
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
            onKeepAlive();
        }
        if (active() && up_ && now - lastResync_ >= settings_.resyncInterval) {
            lastResync_ = now;
            onResync();
        }
        if (active() && generation == generation_) tick();
    });
}

void link_session::declareUp(int sources, int destinations) {
    if (!active() || up_) return;
    up_ = true;
    lastResync_ = std::chrono::steady_clock::now();
    backoff_.reset();
    phaseTimer_.cancel();
    ++phaseArm_;
    connectTimer_.cancel();
    listener_.linkUp(sources, destinations);
}

void link_session::fail(const std::string& why) {
    if (stopped_) return;
    ++generation_;
    connected_ = false;
    up_ = false;
    boost::system::error_code ignored;
    socket_.close(ignored);
    connectTimer_.cancel();
    tickTimer_.cancel();
    phaseTimer_.cancel();
    ++phaseArm_;
    const std::chrono::milliseconds wait = backoff_.next();
    scheduleRetry(wait);
    listener_.linkDown(why, wait);
}

void link_session::scheduleRetry(std::chrono::milliseconds wait) {
    retryTimer_.expires_after(wait);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    retryTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || stopped_ || generation != generation_) return;
        connect();
    });
}

void link_session::armPhaseTimer(std::chrono::milliseconds wait) {
    phaseTimer_.expires_after(wait);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    const std::uint64_t arm = ++phaseArm_;
    phaseTimer_.async_wait([this, self, generation, arm](const boost::system::error_code& error) {
        if (error || !active() || generation != generation_ || arm != phaseArm_) return;
        onPhaseTimer();
    });
}

void link_session::reportProblem(const std::string& cause, const std::string& text) {
    if (!active() || !reported_.insert(cause).second) return;
    listener_.problem(text);
}

void link_session::reportCrosspoint(int destination, int source) {
    if (!active()) return;
    routes_[destination] = source;
    listener_.crosspoint(destination, source);
}

void link_session::reportLabel(int database, int index, const std::string& text) {
    if (!active() || (database != source_labels && database != destination_labels)) return;
    auto& held = labels_[static_cast<std::size_t>(database)];
    const auto found = held.find(index);
    if (found != held.end() && found->second == text) return;
    held[index] = text;
    listener_.label(database, index, text);
}

const std::string* link_session::label(int database, int index) const {
    if (database != source_labels && database != destination_labels) return nullptr;
    const auto& held = labels_[static_cast<std::size_t>(database)];
    const auto found = held.find(index);
    return found == held.end() ? nullptr : &found->second;
}

std::optional<int> link_session::source(int destination) const {
    const auto found = routes_.find(destination);
    if (found == routes_.end()) return std::nullopt;
    return found->second;
}

}  // namespace quon::links
