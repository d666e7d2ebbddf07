// link_session: what both router links share: the TCP connection with its
// connect timeout, the reconnection with back-off, the silence watch and
// keep-alive tick, the output buffer, the routes and labels held, and the
// once-per-cause problem reports. A host name is resolved at each connect,
// off the loop's thread (Asio's resolver). A protocol derives from it and supplies
// the hooks.
//
// Runs on the io_context's thread only. Every pending operation holds the
// session through shared_from_this(), so the session outlives its handlers;
// the public router_link is a handle that stops the session when destroyed.
// The listener is borrowed and outlives the handle.
#ifndef QUON_LINKS_LINK_SESSION_H
#define QUON_LINKS_LINK_SESSION_H

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "quon/links/retry_backoff.h"
#include "quon/links/router_link.h"

namespace quon::links {

class link_session : public std::enable_shared_from_this<link_session> {
public:
    link_session(boost::asio::io_context& io, const link_settings& settings, router_link_listener& listener,
                 std::uint16_t defaultPort);
    virtual ~link_session() = default;
    link_session(const link_session&) = delete;
    link_session& operator=(const link_session&) = delete;

    void start();
    void stop();
    bool up() const { return up_; }
    virtual bool requestRoute(int destination, int source) = 0;
    virtual void poll(int firstDestination, int lastDestination) = 0;
    const std::string* label(int database, int index) const;
    std::optional<int> source(int destination) const;

protected:
    // A connection is made: reset the protocol state and send what opens it.
    virtual void onConnected() = 0;
    // Bytes came off the connection.
    virtual void onBytes(const std::uint8_t* bytes, std::size_t size) = 0;
    // Time to send a request that the router must answer (only while up).
    virtual void onKeepAlive() = 0;
    // The protocol's own timer (armPhaseTimer) ran out.
    virtual void onPhaseTimer() {}
    // Time to ask for the router's whole state again (only while up).
    virtual void onResync() = 0;

    // True while the current connection may go on: neither stopped nor
    // failed since the bytes being handled arrived.
    bool active() const { return !stopped_ && connected_; }
    void send(const std::string& bytes);
    void send(const std::uint8_t* bytes, std::size_t size);
    // The initial state is read: up, with the sizes the router reports.
    void declareUp(int sources, int destinations);
    // Drops the connection and schedules the next attempt.
    void fail(const std::string& why);
    // Reports `text` unless this cause was reported on this connection.
    void reportProblem(const std::string& cause, const std::string& text);
    void reportProblem(const std::string& text) { reportProblem(text, text); }
    // 1-based numbers; held, then reported.
    void reportCrosspoint(int destination, int source);
    void reportLabel(int database, int index, const std::string& text);
    void armPhaseTimer(std::chrono::milliseconds wait);
    void cancelPhaseTimer() { phaseTimer_.cancel(); }

    const link_settings settings_;
    router_link_listener& listener_;

private:
    void connect();
    void connectTo(const std::vector<boost::asio::ip::tcp::endpoint>& endpoints, std::uint64_t generation);
    void read();
    void flush();
    void tick();
    void scheduleRetry(std::chrono::milliseconds wait);

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::resolver resolver_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer connectTimer_;
    boost::asio::steady_timer retryTimer_;
    boost::asio::steady_timer tickTimer_;
    boost::asio::steady_timer phaseTimer_;
    retry_backoff backoff_;
    std::uint16_t port_;
    std::uint64_t generation_ = 0;  // one per connection attempt; handlers of older ones do nothing
    // One per arming of the phase timer: an expiry already queued when the
    // timer is armed again cannot be cancelled, and must do nothing.
    std::uint64_t phaseArm_ = 0;
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
    std::set<std::string> reported_;
    std::unordered_map<int, int> routes_;
    std::array<std::unordered_map<int, std::string>, 2> labels_;
};

// The public face: owns one session and stops it when destroyed.
class link_handle final : public router_link {
public:
    explicit link_handle(std::shared_ptr<link_session> session) : session_(std::move(session)) {}
    ~link_handle() override { session_->stop(); }
    void start() override { session_->start(); }
    void stop() override { session_->stop(); }
    bool up() const override { return session_->up(); }
    // The listener may destroy this handle from within linkDown(), which a
    // request can call; the session stays alive until the call returns.
    bool requestRoute(int destination, int source) override {
        const std::shared_ptr<link_session> session = session_;
        return session->requestRoute(destination, source);
    }
    void poll(int firstDestination, int lastDestination) override {
        const std::shared_ptr<link_session> session = session_;
        session->poll(firstDestination, lastDestination);
    }
    const std::string* label(int database, int index) const override { return session_->label(database, index); }
    std::optional<int> source(int destination) const override { return session_->source(destination); }

private:
    std::shared_ptr<link_session> session_;
};

}  // namespace quon::links

#endif
