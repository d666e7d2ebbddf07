#include "quon/tcp/tcp_carrier.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include "quon/tcp/ca_file.h"

namespace quon::tcp {

struct tcp_carrier::tls_connection {
    tls_connection(boost::asio::ssl::context context, boost::asio::ip::tcp::socket socket, std::string peer)
        : context(std::move(context)), stream(std::move(socket), this->context), peer(std::move(peer)) {}
    boost::asio::ssl::context context;
    boost::asio::ssl::stream<boost::asio::ip::tcp::socket> stream;
    std::string peer;  // the address connected to, as a failure names it
};

namespace {

std::string endpointText(const boost::asio::ip::tcp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
}

// What the OpenSSL error says, without Asio's "(SSL routines)" after it.
std::string tlsMessage(const boost::system::error_code& error) {
    if (error.category() == boost::asio::error::get_ssl_category()) {
        const auto code = static_cast<unsigned long>(static_cast<unsigned int>(error.value()));
        if (const char* reason = ERR_reason_error_string(code)) return reason;
    }
    if (error == boost::asio::ssl::error::stream_truncated) return "the peer closed the connection";
    return error.message();
}

// The context of one connection over TLS: TLS 1.2 or later, the peer
// verified against the CA file or the system's store, and issued to
// `name`. Null, with why, when the CA file cannot serve.
std::unique_ptr<boost::asio::ssl::context> clientContext(const tcp_carrier_settings& settings,
                                                         const std::string& name, std::string& why) {
    auto context = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_client);
    SSL_CTX* native = context->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_verify(native, SSL_VERIFY_PEER, nullptr);
    if (settings.caFile.empty()) {
        boost::system::error_code error;
        context->set_default_verify_paths(error);
        if (error) {
            why = "the system's certificates do not load: " + tlsMessage(error);
            return nullptr;
        }
    } else if (const std::string problem = loadCaFile(SSL_CTX_get_cert_store(native), settings.caFile);
               !problem.empty()) {
        why = "the CA file " + settings.caFile + " " + problem;
        return nullptr;
    }
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(native);
    boost::system::error_code notAddress;
    boost::asio::ip::make_address(name, notAddress);
    if (!notAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    }
    return context;
}

std::uint32_t seedOf(const tcp_carrier_settings& settings) {
    if (settings.jitterSeed != 0) return settings.jitterSeed;
    return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

tcp_carrier::tcp_carrier(boost::asio::io_context& io, const tcp_carrier_settings& settings,
                         tcp_carrier_listener& listener)
    : settings_(settings),
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

void tcp_carrier::setPeer(std::string host, std::uint16_t port, bool tls) {
    settings_.host = std::move(host);
    settings_.port = port;
    settings_.tls = tls;
    settings_.verifyName.clear();
}

void tcp_carrier::reconnect() {
    drop();
    retryTimer_.cancel();
    open_ = true;
    connect();
}

boost::asio::ip::tcp::socket& tcp_carrier::socket() { return tls_ ? tls_->stream.next_layer() : socket_; }

const boost::asio::ip::tcp::socket& tcp_carrier::socket() const {
    return tls_ ? tls_->stream.next_layer() : socket_;
}

void tcp_carrier::close() {
    open_ = false;
    drop();
    retryTimer_.cancel();
    backoff_.reset();
}

void tcp_carrier::abort() {
    boost::system::error_code ignored;
    if (socket().is_open()) socket().set_option(boost::asio::socket_base::linger(true, 0), ignored);
    close();
}

std::chrono::milliseconds tcp_carrier::fail() {
    drop();
    return scheduleRetry();
}

std::size_t tcp_carrier::unread() const {
    if (!connected_) return 0;
    boost::system::error_code ignored;
    const std::size_t kernel = socket().available(ignored);
    if (!tls_) return kernel;
    SSL* ssl = tls_->stream.native_handle();
    return kernel + static_cast<std::size_t>(SSL_pending(ssl)) + BIO_ctrl_pending(SSL_get_rbio(ssl));
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
    const boost::asio::ip::address address = boost::asio::ip::make_address(settings_.host, error);
    if (!error) {
        connectTo({boost::asio::ip::tcp::endpoint(address, settings_.port)}, generation);
        return;
    }
    listener_.resolving();
    if (!open_ || generation != generation_) return;
    auto self = shared_from_this();
    resolver_.async_resolve(settings_.host, std::to_string(settings_.port),
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
    for (const auto& endpoint : endpoints) tried += (tried.empty() ? "" : ", ") + endpointText(endpoint);
    if (endpoints.size() != 1 || endpoints.front().address().to_string() != settings_.host)
        tried = settings_.host + " (" + tried + ")";
    listener_.connecting(endpoints);
    if (!open_ || generation != generation_) return;
    connectTimer_.expires_after(settings_.connectTimeout);
    auto self = shared_from_this();
    connectTimer_.async_wait([this, self, generation, tried](const boost::system::error_code& waitError) {
        if (waitError || !open_ || generation != generation_ || connected_) return;
        if (tls_) {
            failWith({tcp_failure::cause::tls_failed,
                      "no handshake within " + std::to_string(settings_.connectTimeout.count()) + " ms", tls_->peer});
            return;
        }
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
            established(generation);
        });
}

void tcp_carrier::established(std::uint64_t generation) {
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
    if (settings_.tls) {
        handshake(generation);
        return;
    }
    connectTimer_.cancel();
    up();
}

void tcp_carrier::handshake(std::uint64_t generation) {
    // Of the addresses tried, the one connected to.
    boost::system::error_code ignored;
    const boost::asio::ip::tcp::endpoint remote = socket_.remote_endpoint(ignored);
    std::string peer = endpointText(remote);
    if (remote.address().to_string() != settings_.host) peer = settings_.host + " (" + peer + ")";
    const std::string& name = settings_.verifyName.empty() ? settings_.host : settings_.verifyName;
    std::string why;
    std::unique_ptr<boost::asio::ssl::context> context = clientContext(settings_, name, why);
    if (!context) {
        failWith({tcp_failure::cause::tls_failed, why, peer});
        return;
    }
    tls_ = std::make_shared<tls_connection>(std::move(*context), std::move(socket_), peer);
    SSL* ssl = tls_->stream.native_handle();
    boost::system::error_code notAddress;
    boost::asio::ip::make_address(name, notAddress);
    // A server with many names picks the certificate by this; an address
    // is never sent as one (RFC 6066).
    if (notAddress) SSL_set_tlsext_host_name(ssl, name.c_str());
    auto self = shared_from_this();
    const std::shared_ptr<tls_connection> tls = tls_;
    tls_->stream.async_handshake(
        boost::asio::ssl::stream_base::client,
        [this, self, tls, generation, peer](const boost::system::error_code& error) {
            if (!open_ || generation != generation_) return;
            if (error) {
                const long verified = SSL_get_verify_result(tls->stream.native_handle());
                if (verified != X509_V_OK) {
                    failWith({tcp_failure::cause::untrusted, X509_verify_cert_error_string(verified), peer});
                } else {
                    failWith({tcp_failure::cause::tls_failed, tlsMessage(error), peer});
                }
                return;
            }
            connectTimer_.cancel();
            up();
        });
}

void tcp_carrier::up() {
    connected_ = true;
    read();
    boost::system::error_code ignored;
    const boost::asio::ip::tcp::endpoint peer = socket().remote_endpoint(ignored);
    listener_.connected(peer);
}

void tcp_carrier::read() {
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    auto done = [this, self, generation](const boost::system::error_code& error, std::size_t size) {
        if (!open_ || generation != generation_) return;
        if (error) {
            // A peer over TLS may close with its close_notify or without.
            if (error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated) {
                failWith({tcp_failure::cause::peer_closed, {}, {}});
            } else {
                failWith({tcp_failure::cause::read_failed, tls_ ? tlsMessage(error) : error.message(), {}});
            }
            return;
        }
        listener_.received(readBuffer_.data(), size);
        if (open_ && connected_ && generation == generation_) read();
    };
    if (tls_) {
        tls_->stream.async_read_some(boost::asio::buffer(readBuffer_),
                                     [tls = tls_, done](const boost::system::error_code& error, std::size_t size) {
                                         done(error, size);
                                     });
    } else {
        socket_.async_read_some(boost::asio::buffer(readBuffer_), std::move(done));
    }
}

void tcp_carrier::flush() {
    if (!writing_.empty() || pending_.empty()) return;
    writing_.swap(pending_);
    auto self = shared_from_this();
    const std::uint64_t generation = generation_;
    auto done = [this, self, generation](const boost::system::error_code& error, std::size_t) {
        if (!open_ || generation != generation_) return;
        writing_.clear();
        if (error) {
            failWith({tcp_failure::cause::write_failed, tls_ ? tlsMessage(error) : error.message(), {}});
            return;
        }
        if (!pending_.empty()) {
            flush();
        } else {
            listener_.drained();
        }
    };
    if (tls_) {
        boost::asio::async_write(tls_->stream, boost::asio::buffer(writing_),
                                 [tls = tls_, done](const boost::system::error_code& error, std::size_t size) {
                                     done(error, size);
                                 });
    } else {
        boost::asio::async_write(socket_, boost::asio::buffer(writing_), std::move(done));
    }
}

void tcp_carrier::drop() {
    ++generation_;
    connected_ = false;
    pending_.clear();
    writing_.clear();
    boost::system::error_code ignored;
    resolver_.cancel();
    socket_.close(ignored);
    if (tls_) {
        tls_->stream.next_layer().close(ignored);
        tls_.reset();
    }
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
