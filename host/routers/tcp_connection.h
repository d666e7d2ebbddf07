// tcp_connection: carries one router_client on a tcp_carrier, which connects
// (with its time limit, the name resolved at each connect, every address
// tried), reads, writes through its 1 MiB queue and retries with back-off
// and jitter. On top of it this watches for silence, ticks the keep-alive
// (one whose answer, act::answered, does not come within KeepAliveWait
// loses the router) and the resync, wakes the client when it asked, words
// each failure for the listener and resets the back-off once the router is
// up. What the client reports goes to the listener through the one
// held_state (routes, labels, problems once per cause, what did not come
// once per text). Routes and labels are taken into it a whole list of
// actions at a time, and a whole read of the router at a time (from connect
// to act::up, from act::read_start to act::read_end), before the listener
// hears of any: whoever asks for a route's name while it is told meets
// routes and names of one moment. The listener hears the routes before the
// labels, so that a display hears of its new route before the rename of
// the source it leaves.
//
// It knows one channel, the router's connection: a client's act::send on
// channel 0 and act::answered of it. What a protocol asks beyond that
// (another channel, act::reopen) reaches carry(), which does nothing here;
// two_channel_connection carries it for the client that needs it.
//
// Runs on the io_context's thread only. Every pending operation holds the
// connection through shared_from_this(), so it outlives its handlers; the
// public router_connection is a handle that stops it when destroyed. The
// listener is borrowed and outlives the handle; the client and the carrier
// are owned (the carrier shared with its own handlers, and closed by stop()).
#ifndef QUON_ROUTERS_TCP_CONNECTION_H
#define QUON_ROUTERS_TCP_CONNECTION_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "quon/routers/held_state.h"
#include "quon/routers/router_client.h"
#include "quon/routers/router_connection.h"
#include "quon/tcp/tcp_carrier.h"
#include "quon/tcp/tcp_carrier_listener.h"

namespace quon::routers {

class tcp_connection : public tcp::tcp_carrier_listener, public std::enable_shared_from_this<tcp_connection> {
public:
    tcp_connection(boost::asio::io_context& io, const router_settings& settings, router_listener& listener,
                   std::unique_ptr<router_client> client);
    // Closes the carrier, whose handlers may outlive this and then call no one.
    ~tcp_connection() override { carrier_->close(); }
    tcp_connection(const tcp_connection&) = delete;
    tcp_connection& operator=(const tcp_connection&) = delete;

    void start();
    void stop();
    bool up() const { return up_; }
    bool requestRoute(int destination, int source);
    void poll(int firstDestination, int lastDestination);
    const std::string* label(int database, int index) const { return held_.label(database, index); }
    std::optional<int> source(int destination) const { return held_.source(destination); }
    bool unread() const { return carrier_->unread() > 0; }

    // The carrier's reports.
    void connected(const boost::asio::ip::tcp::endpoint& peer) override;
    void received(const std::uint8_t* data, std::size_t size) override;
    void failed(const tcp::tcp_failure& failure, std::chrono::milliseconds retryIn) override;

protected:
    // What the connection does with the carrier's settings: the router's
    // address, its timings and the write limit.
    static tcp::tcp_carrier_settings carrierSettings(const router_settings& settings);
    // A duration as a failure's text words it ("250 ms").
    static std::string millisecondsText(std::chrono::milliseconds duration);
    const router_settings& settings() const { return settings_; }
    // Owned by the connection; valid as long as it is.
    router_client& client() const { return *client_; }
    tcp::tcp_carrier& carrier() const { return *carrier_; }
    // True while the current connection may go on: neither stopped nor
    // failed.
    bool active() const { return !stopped_ && connected_; }
    // Carries out what the client asked, in order, until the connection
    // fails or the connection is stopped (the listener may stop it).
    void apply(const router_actions& actions);
    // Takes what is waiting into held_ and then tells the listener of what
    // was news, unless a read is still under way.
    void flush();
    // Drops the connection for a reason found here and schedules the next
    // attempt.
    void fail(const std::string& why);
    // Ends this connection and opens the next at once, at host:port, still
    // up: the client keeps its state, is not told closed() and hears
    // connected() when the next is made; what this connection's keep-alive
    // waited for is forgotten. Not a failure: the back-off stays as it is,
    // so that a router whose next connection fails again and again is not
    // tried ever faster.
    void reconnectAt(const std::string& host, std::uint16_t port, bool tls);

    // What a connection that carries more than the one channel adds; here,
    // nothing. An action apply() leaves to it: act::send and act::answered
    // of another channel, act::reopen.
    virtual void carry(const router_action& action);
    // The carrier's failure, worded for the listener.
    virtual std::string failureText(const tcp::tcp_failure& failure) const;
    // Once a tick, after this channel's check of the same kind: why the
    // connection fails, or empty. Another channel silent past the silence
    // limit (bytes unread on it count as heard, at `now`)...
    virtual std::string silentElsewhere(std::chrono::steady_clock::time_point now);
    // ...or a keep-alive sent on it unanswered past the keep-alive's wait.
    virtual std::string unansweredElsewhere(std::chrono::steady_clock::time_point now) const;
    // Bytes the router sent on another channel, not read yet.
    virtual bool unreadElsewhere() const;
    // A keep-alive went out on another channel at `now`.
    virtual void askedElsewhere(int channel, std::chrono::steady_clock::time_point now);
    // The connection is lost on this side, before the client hears closed().
    virtual void ending();

private:
    void tick();
    void send(const std::string& bytes);
    void armClientTimer(router_clock::time_point deadline);
    void declareUp(int sources, int destinations);
    // Forgets the connection on this side (timers, client, state).
    void lose();
    // The client's act::remember, written whole to the state file.
    void remember(const std::string& text);

    const router_settings settings_;
    router_listener& listener_;             // borrowed; outlives the handle
    const std::unique_ptr<router_client> client_;  // owned
    held_state held_;
    // Crosspoints and labels not taken into held_ yet: those of the list
    // being carried out, or of the read under way.
    std::vector<router_action> waiting_;
    bool reading_ = false;  // a read of the router's whole state is under way
    std::chrono::steady_clock::time_point readStarted_;
    std::shared_ptr<tcp::tcp_carrier> carrier_;  // owned; shared with its handlers
    boost::asio::steady_timer tickTimer_;
    boost::asio::steady_timer clientTimer_;
    std::uint64_t generation_ = 0;  // one per connection; handlers of older ones do nothing
    bool started_ = false;
    bool stopped_ = false;
    bool connected_ = false;
    bool up_ = false;
    std::chrono::steady_clock::time_point lastReceived_;
    std::chrono::steady_clock::time_point lastKeepAlive_;
    // When a keep-alive was sent that nothing has come back after yet.
    std::optional<std::chrono::steady_clock::time_point> askedAt_;
    std::chrono::steady_clock::time_point lastResync_;
};

// The public face: owns one connection and stops it when destroyed.
class connection_handle final : public router_connection {
public:
    explicit connection_handle(std::shared_ptr<tcp_connection> connection) : connection_(std::move(connection)) {}
    ~connection_handle() override { connection_->stop(); }
    void start() override { connection_->start(); }
    void stop() override { connection_->stop(); }
    bool up() const override { return connection_->up(); }
    // The listener may destroy this handle from within routerDown(), which a
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
    bool unread() const override { return connection_->unread(); }

private:
    // Shared with the connection's pending handlers, which keep it alive
    // past this handle until they have run.
    std::shared_ptr<tcp_connection> connection_;
};

}  // namespace quon::routers

#endif
