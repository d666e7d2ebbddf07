// receiver: one destination of the output (umd_output.cpp), its displays in
// a display_queue encoded by its protocol's codec, and (in udp_receiver.cpp
// and tcp_receiver.cpp) its socket. Shared with its handlers, which do
// nothing once it is closed.
//
// Thread: the loop's, as umd_output. Internal to quon_screens.
#ifndef QUON_SCREENS_RECEIVER_H
#define QUON_SCREENS_RECEIVER_H

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "quon/screens/display_queue.h"
#include "quon/screens/screen_protocol.h"
#include "quon/screens/umd_output.h"

namespace quon::screens {

namespace asio = boost::asio;
using namespace std::chrono_literals;

// Packets sent in one turn of the event loop before yielding to other work.
constexpr size_t packets_per_turn = 64;
// Bytes gathered into one TCP write.
constexpr size_t stream_chunk = 16 * 1024;
// The back-off after a failure (retry_backoff, for UDP and TCP alike).
constexpr std::chrono::milliseconds first_retry = 250ms;
constexpr std::chrono::milliseconds last_retry = 10s;
constexpr std::chrono::milliseconds connect_timeout = 5s;
// A TCP receiver that acknowledges nothing for this long is dropped (and
// connected again), so a dead one does not hold its socket for minutes.
constexpr std::chrono::milliseconds unacknowledged_limit = 10s;
constexpr std::chrono::milliseconds drain_limit = 1s;

class receiver : public std::enable_shared_from_this<receiver> {
public:
    receiver(asio::io_context& io, const umd_destination& to, const umd_config& config);
    virtual ~receiver() = default;

    // The number of the display at `screen` and `index` here: the one it
    // had (a receiver kept through a reload, which takes the new `lost`),
    // or a new one.
    size_t placeDisplay(uint16_t screen, uint16_t index, const router_lost& lost);
    // Kept through a reload: the displays shown here that no display uses
    // any more are sent blank (and stay blank at each refresh).
    void blankUnused(const std::set<size_t>& used);

    // A TCP receiver holds a connection worth keeping through a reload.
    virtual bool connects() const { return false; }
    bool open() const { return !stopping_ && !closed_; }
    const umd_destination& to() const { return to_; }
    const screen_codec& codec() const { return *codec_; }

    void show(size_t display, const std::string& text, const tally_lamps& lamps) {
        if (queue_.show(display, text, lamps)) wake();
    }
    void setRouterLost(size_t display, std::optional<display_queue::clock::time_point> since,
                       display_queue::clock::time_point now) {
        if (queue_.setRouterLost(display, since, now)) wake();
    }
    void advance(display_queue::clock::time_point now) {
        if (queue_.advance(now) != 0) wake();
    }
    std::optional<display_queue::clock::time_point> nextChange() const { return queue_.nextChange(); }
    lost_treatment treatment(size_t display) const { return queue_.treatment(display); }
    bool shown(size_t display) const { return queue_.shown(display); }

    void refresh() {
        queue_.refresh();
        wake();
    }

    // Standby: the latest state of every display is still kept, but
    // nothing is sent and no connection is held; what waited is dropped.
    // Back to active: every display shown so far is sent at once.
    void setStandby(bool standby);
    // Stops connecting; closes now, or once the displays `blank` picks (by
    // number) are sent blank. Calls `closed` when closed.
    void finish(const std::function<bool(size_t display)>& blank, std::function<void()> closed);
    virtual void close() = 0;

    umd_receiver_status status() const;
    // `changed` hears of every change of state; it outlives the receiver's
    // open life (the output drops it before it goes).
    void onChange(std::function<void(const umd_receiver_status&)> changed) { changed_ = std::move(changed); }

protected:
    // Something new waits, unless this host is standby or it is closed.
    void wake() {
        if (closed_ || queue_.standby() || queue_.waiting() == 0) return;
        demand();
    }
    void scheduleFlush();
    void reportClosed();
    // The link's state; a change is told (the detail alone is not).
    void setState(umd_receiver_state state, std::string detail = {});
    // A failure: counted, and the state it leaves the link in, with the
    // retry that is due.
    void failed(umd_receiver_state state, const std::string& why, std::chrono::milliseconds retryIn);
    void countSent(uint64_t packets) {
        packetsSent_ += packets;
        lastSent_ = std::chrono::system_clock::now();
    }

    // Something waits in the queue.
    virtual void demand() = 0;
    // Standby: closes the socket (the receiver stays open), forgets what
    // was in flight and the back-off; every handler of the link is then
    // stale.
    virtual void pause() = 0;
    virtual void flush() = 0;
    // The socket can take packets.
    virtual bool ready() const = 0;
    // Nothing waits and nothing is in flight.
    virtual bool idle() const = 0;

    asio::io_context& io_;
    const umd_destination to_;
    const std::unique_ptr<screen_codec> codec_;  // before queue_, which uses it
    display_queue queue_;
    bool flushPosted_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    uint64_t connections_ = 0;
    uint64_t packetsSent_ = 0;
    uint64_t errors_ = 0;

private:
    umd_receiver_state linkState_ = umd_receiver_state::idle;
    std::string linkDetail_;
    bool failing_ = false;
    std::chrono::system_clock::time_point lastSent_{};
    std::function<void(const umd_receiver_status&)> changed_;

    std::function<void()> onClosed_;
    std::map<std::pair<uint16_t, uint16_t>, size_t> slots_;  // (screen, index) -> display number
};

std::shared_ptr<receiver> makeUdpReceiver(asio::io_context& io, const umd_destination& to, const umd_config& config);
std::shared_ptr<receiver> makeTcpReceiver(asio::io_context& io, const umd_destination& to, const umd_config& config);

}  // namespace quon::screens

#endif
