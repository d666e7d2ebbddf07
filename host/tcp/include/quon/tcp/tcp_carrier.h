// tcp_carrier: one TCP client connection that keeps coming back. open()
// connects with a time limit, a host name resolved anew at each attempt (its
// address may move; by Asio's resolver, which calls getaddrinfo off the
// loop's thread) and every address tried in order; then it reads until the
// connection ends and writes what send() queues, in order, through one
// buffer with a limit. After any failure it closes the socket, tells the
// listener, and tries again after a wait from retry_backoff (doubling, with
// jitter) until close(). What the bytes mean, when a connection is healthy
// and when it is good enough to reset the back-off is the user's: the router
// connections (routers/tcp_connection) and the TSL TCP receivers (umd_output).
//
// With TLS on, a connection is one once its handshake is done, inside the
// same time limit: TLS 1.2 or later, the peer's certificate verified
// against the CA file (or the system's store) and issued to the name
// asked for (a DNS name, also sent as SNI; an address literal matched
// against the certificate's IP addresses). Each connection has its own
// OpenSSL context, built at its handshake, so a CA file replaced on disk
// counts from the next attempt on. Without TLS the bytes go on the socket
// itself, as they always have.
//
// Runs on the io_context's thread only. Create it with make_shared: every
// pending operation holds the carrier, so it outlives its handlers. The
// listener is borrowed; its owner must close() the carrier before the
// listener goes, after which no handler calls it.
#ifndef QUON_TCP_TCP_CARRIER_H
#define QUON_TCP_TCP_CARRIER_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "quon/tcp/retry_backoff.h"
#include "quon/tcp/tcp_carrier_listener.h"

namespace quon::tcp {

struct tcp_carrier_settings {
    std::string host;  // a name or a numeric address
    std::uint16_t port = 0;
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds backOffFirst{1000};
    std::chrono::milliseconds backOffCap{30000};
    std::uint32_t jitterSeed = 0;  // 0: seeded from the clock
    // Bytes sent and not yet written past which the peer is taken as not
    // reading and the connection is dropped.
    std::size_t writeLimit = 1 << 20;
    // When not zero: the kernel drops the connection when what it sent
    // stays unacknowledged this long (TCP_USER_TIMEOUT, with keep-alives),
    // for a peer that never answers and so would not be noticed dead.
    std::chrono::milliseconds unacknowledgedLimit{0};
    bool tls = false;
    // The certificates (PEM) the peer's must chain to; empty: the system's
    // store. Read only with tls.
    std::string caFile;
    // The name the peer's certificate must be issued to; empty: host.
    std::string verifyName;
};

class tcp_carrier : public std::enable_shared_from_this<tcp_carrier> {
public:
    tcp_carrier(boost::asio::io_context& io, const tcp_carrier_settings& settings, tcp_carrier_listener& listener);
    tcp_carrier(const tcp_carrier&) = delete;
    tcp_carrier& operator=(const tcp_carrier&) = delete;

    // Starts connecting, unless already open.
    void open();
    // Drops the connection and any attempt or wait, and forgets the
    // back-off; the listener hears nothing more until the next open().
    void close();
    // As close(), and what the kernel still holds for the peer is dropped
    // too (the peer sees a reset): for a sender that must stop at once,
    // whose bytes would be stale when a connection that is down comes back.
    void abort();
    // Drops the connection as a failure the user found (the peer's
    // protocol went wrong or silent) and schedules the next attempt, whose
    // wait it returns. The listener is not told: the user words it.
    std::chrono::milliseconds fail();
    // After a connection proved good: the next wait is the first again.
    void resetBackoff() { backoff_.reset(); }
    // The next connect, and every retry after it, goes to `host`:`port`,
    // over TLS or not, the certificate verified for `host`; the connection
    // there is, if any, is left alone. For a peer that names where it is
    // to be followed.
    void setPeer(std::string host, std::uint16_t port, bool tls);
    // Drops the connection (or the attempt, or the wait) and connects at
    // once, opening the carrier if it was closed. Unlike close() and
    // open(), the back-off goes on from where it was: a peer that keeps
    // sending its client elsewhere is still tried less and less often.
    // The listener is not told of the drop.
    void reconnect();

    // Queues `bytes` behind everything sent before. False when not
    // connected, or when it would take what waits past the write limit,
    // which fails the connection (the listener hears of it) first.
    bool send(std::string_view bytes);

    bool isOpen() const { return open_; }
    bool connected() const { return connected_; }
    // Bytes sent and not yet written, the write under way included.
    std::size_t queued() const { return pending_.size() + writing_.size(); }
    // Bytes the kernel holds that are not read yet, and with TLS those
    // OpenSSL holds decrypted or yet to decrypt.
    std::size_t unread() const;

private:
    void connect();
    void connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints, std::uint64_t generation);
    // The TCP connection is made: sets it up, and over TLS shakes hands.
    void established(std::uint64_t generation);
    void handshake(std::uint64_t generation);
    void up();
    void read();
    void flush();
    // The socket of the connection, under TLS or not.
    boost::asio::ip::tcp::socket& socket();
    const boost::asio::ip::tcp::socket& socket() const;
    void drop();
    // Drops the connection, tells the listener and schedules the retry.
    void failWith(tcp_failure failure);
    std::chrono::milliseconds scheduleRetry();

    // One connection over TLS (tcp_carrier.cpp): shared with its pending
    // handlers, as OpenSSL's state must outlive every operation on it.
    struct tls_connection;

    tcp_carrier_settings settings_;
    boost::asio::io_context& io_;        // borrowed; outlives the carrier
    tcp_carrier_listener& listener_;     // borrowed; see the top
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::ip::tcp::socket socket_;  // the connection without TLS, or one not yet handed to TLS
    std::shared_ptr<tls_connection> tls_;   // the connection over TLS, once connected
    boost::asio::steady_timer connectTimer_;
    boost::asio::steady_timer retryTimer_;
    retry_backoff backoff_;
    std::uint64_t generation_ = 0;  // one per attempt; handlers of older ones do nothing
    bool open_ = false;
    bool connected_ = false;
    std::string pending_;  // sent, waiting for the write under way
    std::string writing_;  // the write under way
    // A turn of the loop reads up to this much: a router's first read (the
    // names and routes of 50,000 destinations are megabytes) in few turns.
    // Not cleared: only what was received is read.
    std::array<std::uint8_t, 256 * 1024> readBuffer_;
};

}  // namespace quon::tcp

#endif
