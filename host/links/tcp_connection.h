// tcp_connection: carries one link_client over TCP. It connects with a time
// limit (a host name resolved anew at each connect, off the loop's thread,
// by Asio's resolver, every address tried), reads, writes what the client
// sends through one output buffer, reconnects with back-off and jitter,
// watches for silence, ticks the keep-alive and resync, and wakes the client
// when it asked. What the client reports goes to the listener through the
// one held_state (routes, labels, problems once per cause).
//
// Runs on the io_context's thread only. Every pending operation holds the
// connection through shared_from_this(), so it outlives its handlers; the
// public router_link is a handle that stops it when destroyed. The listener
// is borrowed and outlives the handle; the client is owned.
#ifndef QUON_LINKS_TCP_CONNECTION_H
#define QUON_LINKS_TCP_CONNECTION_H

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "quon/links/held_state.h"
#include "quon/links/link_client.h"
#include "quon/links/retry_backoff.h"
#include "quon/links/router_link.h"

namespace quon::links {

class tcp_connection : public std::enable_shared_from_this<tcp_connection> {
public:
    tcp_connection(boost::asio::io_context& io, const link_settings& settings, router_link_listener& listener,
                   std::unique_ptr<link_client> client);
    tcp_connection(const tcp_connection&) = delete;
    tcp_connection& operator=(const tcp_connection&) = delete;

    void start();
    void stop();
    bool up() const { return up_; }
    bool requestRoute(int destination, int source);
    void poll(int firstDestination, int lastDestination);
    const std::string* label(int database, int index) const { return held_.label(database, index); }
    std::optional<int> source(int destination) const { return held_.source(destination); }

private:
    // True while the current connection may go on: neither stopped nor
    // failed.
    bool active() const { return !stopped_ && connected_; }
    void connect();
    void connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints, std::uint64_t generation);
    void read();
    void flush();
    void tick();
    void scheduleRetry(std::chrono::milliseconds wait);
    // Carries out what the client asked, in order, until the connection
    // fails or the link is stopped (the listener may stop it).
    void apply(const link_actions& actions);
    void send(const std::string& bytes);
    void armClientTimer(link_clock::time_point deadline);
    void declareUp(int sources, int destinations);
    // Drops the connection and schedules the next attempt.
    void fail(const std::string& why);

    const link_settings settings_;
    router_link_listener& listener_;             // borrowed; outlives the handle
    boost::asio::io_context& io_;                // borrowed; outlives the handle
    const std::unique_ptr<link_client> client_;  // owned
    held_state held_;
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer connectTimer_;
    boost::asio::steady_timer retryTimer_;
    boost::asio::steady_timer tickTimer_;
    boost::asio::steady_timer clientTimer_;
    retry_backoff backoff_;
    std::uint16_t port_;
    std::uint64_t generation_ = 0;  // one per connection attempt; handlers of older ones do nothing
    bool started_ = false;
    bool stopped_ = false;
    bool connected_ = false;
    bool up_ = false;
    bool writing_ = false;
    std::string pending_;  // bytes waiting for the write under way
    std::string writingNow_;
    std::array<std::uint8_t, 8192> readBuffer_{};
    std::chrono::steady_clock::time_point lastReceived_;
    std::chrono::steady_clock::time_point lastKeepAlive_;
    std::chrono::steady_clock::time_point lastResync_;
};

// The public face: owns one connection and stops it when destroyed.
class link_handle final : public router_link {
public:
    explicit link_handle(std::shared_ptr<tcp_connection> connection) : connection_(std::move(connection)) {}
    ~link_handle() override { connection_->stop(); }
    void start() override { connection_->start(); }
    void stop() override { connection_->stop(); }
    bool up() const override { return connection_->up(); }
    // The listener may destroy this handle from within linkDown(), which a
    // request can call; the connection stays alive until the call returns.
    bool requestRoute(int destination, int source) override {
        const std::shared_ptr<tcp_connection> connection = connection_;
        return connection->requestRoute(destination, source);
    }
    void poll(int firstDestination, int lastDestination) override {
        const std::shared_ptr<tcp_connection> connection = connection_;
        connection->poll(firstDestination, lastDestination);
    }
    const std::string* label(int database, int index) const override { return connection_->label(database, index); }
    std::optional<int> source(int destination) const override { return connection_->source(destination); }

private:
    // Shared with the connection's pending handlers, which keep it alive
    // past this handle until they have run.
    std::shared_ptr<tcp_connection> connection_;
};

}  // namespace quon::links

#endif
