#include "quon/tcp/tcp_carrier.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>

namespace quon::tcp {

namespace {

std::uint32_t seedOf(const tcp_carrier_settings& settings) {
    if (settings.jitterSeed != 0) return settings.jitterSeed;
    return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

tcp_carrier::tcp_carrier(boost::asio::io_context& io, const tcp_carrier_settings& settings,
                         tcp_carrier_listener& listener)
    : settings_(settings),
      host_(settings.host),
      port_(settings.port),
      io_(io),
      listener_(listener),
      resolver_(io),
      socket_(io),
      connectTimer_(io),
      retryTimer_(io),
      backoff_(settings.backOffFirst, settings.backOffCap, seedOf(settings)) {}

void tcp_carrier::open() {
    if (open_) return;
    open_ = true;
    connect();
}

void tcp_carrier::close() {
    open_ = false;
    drop();
    retryTimer_.cancel();
    backoff_.reset();
}

void tcp_carrier::abort() {
    boost::system::error_code ignored;
    if (socket_.is_open()) socket_.set_option(boost::asio::socket_base::linger(true, 0), ignored);
    close();
}

void tcp_carrier::setPeer(std::string host, std::uint16_t port) {
    host_ = std::move(host);
    port_ = port;
}

void tcp_carrier::reconnect() {
    drop();
    retryTimer_.cancel();
    if (open_) connect();
}

std::chrono::milliseconds tcp_carrier::fail() {
    drop();
    return scheduleRetry();
}

std::size_t tcp_carrier::unread() const {
    boost::system::error_code ignored;
    return connected_ ? socket_.available(ignored) : 0;
}

bool tcp_carrier::send(std::string_view bytes) {
    if (!connected_) return false;
    if (queued() + bytes.size() > settings_.writeLimit) {
        failWith({tcp_failure::cause::backlog, {}, {}});
        return false;
    }
    pending_.append(bytes.data(), bytes.size());
    flush();
    return true;
}

void tcp_carrier::connect() {
    const std::uint64_t generation = ++generation_;
    boost::system::error_code error;
    const boost::asio::ip::address address = boost::asio::ip::make_address(host_, error);
    if (!error) {
        connectTo({boost::asio::ip::tcp::endpoint(address, port_)}, generation);
        return;
    }
    listener_.resolving();
    if (!open_ || generation != generation_) return;
    auto self = shared_from_this();
    resolver_.async_resolve(host_, std::to_string(port_),
                            boost::asio::ip::tcp::resolver::numeric_service,
                            [this, self, generation](const boost::system::error_code& resolveError,
                                                     const boost::asio::ip::tcp::resolver::results_type& results) {
                                if (!open_ || generation != generation_) return;
                                if (resolveError || results.empty()) {
                                    failWith({tcp_failure::cause::unresolved,
                                              resolveError ? resolveError.message() : std::string("no address"),
                                              {}});
                                    return;
                                }
                                std::vector<boost::asio::ip::tcp::endpoint> endpoints;
                                for (const auto& entry : results) endpoints.push_back(entry.endpoint());
                                connectTo(endpoints, generation);
                            });
}

void tcp_carrier::connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints, std::uint64_t generation) {
    socket_ = boost::asio::ip::tcp::socket(io_);
    std::string tried;
    for (const auto& endpoint : endpoints) {
        const std::string address = endpoint.address().to_string();
        tried += (tried.empty() ? "" : ", ") + (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
                 std::to_string(endpoint.port());
    }
    if (endpoints.size() != 1 || endpoints.front().address().to_string() != host_)
        tried = host_ + " (" + tried + ")";
    listener_.connecting(endpoints);
    if (!open_ || generation != generation_) return;
    connectTimer_.expires_after(settings_.connectTimeout);
    auto self = shared_from_this();
    connectTimer_.async_wait([this, self, generation, tried](const boost::system::error_code& waitError) {
        if (waitError || !open_ || generation != generation_ || connected_) return;
        failWith({tcp_failure::cause::timed_out, {}, tried});
    });
    boost::asio::async_connect(
        socket_, endpoints,
        [this, self, generation, tried](const boost::system::error_code& error, const boost::asio::ip::tcp::endpoint&) {
            if (!open_ || generation != generation_) return;
            if (error) {
                failWith({error == boost::asio::error::connection_refused ? tcp_failure::cause::refused
                                                                          : tcp_failure::cause::connect_failed,
                          error.message(), tried});
                return;
            }
            connectTimer_.cancel();
            connected_ = true;
            boost::system::error_code ignored;
            socket_.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
            if (settings_.unacknowledgedLimit.count() > 0) {
                socket_.set_option(boost::asio::socket_base::keep_alive(true), ignored);
#ifdef TCP_USER_TIMEOUT
                socket_.set_option(boost::asio::detail::socket_option::integer<IPPROTO_TCP, TCP_USER_TIMEOUT>(
                                       static_cast<int>(settings_.unacknowledgedLimit.count())),
                                   ignored);
#endif
            }
            read();
            const boost::asio::ip::tcp::endpoint peer = socket_.remote_endpoint(ignored);
            listener_.connected(peer);
        });
}

void tcp_carrier::read() {
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    socket_.async_read_some(boost::asio::buffer(readBuffer_),
                            [this, self, generation](const boost::system::error_code& error, std::size_t size) {
                                if (!open_ || generation != generation_) return;
                                if (error) {
                                    if (error == boost::asio::error::eof) {
                                        failWith({tcp_failure::cause::peer_closed, {}, {}});
                                    } else {
                                        failWith({tcp_failure::cause::read_failed, error.message(), {}});
                                    }
                                    return;
                                }
                                listener_.received(readBuffer_.data(), size);
                                if (open_ && connected_ && generation == generation_) read();
                            });
}

void tcp_carrier::flush() {
    if (!writing_.empty() || pending_.empty()) return;
    writing_.swap(pending_);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    boost::asio::async_write(socket_, boost::asio::buffer(writing_),
                             [this, self, generation](const boost::system::error_code& error, std::size_t) {
                                 if (!open_ || generation != generation_) return;
                                 writing_.clear();
                                 if (error) {
                                     failWith({tcp_failure::cause::write_failed, error.message(), {}});
                                     return;
                                 }
                                 if (!pending_.empty()) {
                                     flush();
                                 } else {
                                     listener_.drained();
                                 }
                             });
}

void tcp_carrier::drop() {
    ++generation_;
    connected_ = false;
    pending_.clear();
    writing_.clear();
    boost::system::error_code ignored;
    resolver_.cancel();
    socket_.close(ignored);
    connectTimer_.cancel();
}

void tcp_carrier::failWith(tcp_failure failure) {
    drop();
    const std::chrono::milliseconds wait = scheduleRetry();
    listener_.failed(failure, wait);
}

std::chrono::milliseconds tcp_carrier::scheduleRetry() {
    const std::chrono::milliseconds wait = backoff_.next();
    retryTimer_.expires_after(wait);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    retryTimer_.async_wait([this, self, generation](const boost::system::error_code& error) {
        if (error || !open_ || generation != generation_) return;
        connect();
    });
    return wait;
}

}  // namespace quon::tcp
