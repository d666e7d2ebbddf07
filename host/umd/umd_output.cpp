#include "quon/umd/umd_output.h"

#include <netinet/in.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "quon/umd/datagram_batch.h"
#include "quon/umd/tsl_packet.h"
#include "quon/umd/tsl_queue.h"
#include "quon/umd/umd_text.h"
#include "quon/tcp/tcp_carrier.h"
#include "quon/tcp/tcp_carrier_listener.h"
#include "quon/tcp/tcp_failure.h"

namespace quon {

namespace asio = boost::asio;
using boost::system::error_code;
using namespace std::chrono_literals;

namespace {

// Packets sent in one turn of the event loop before yielding to other work.
constexpr size_t packets_per_turn = 64;
// Bytes gathered into one TCP write.
constexpr size_t stream_chunk = 16 * 1024;
// The back-off after a failure: UDP waits exactly, TCP (retry_backoff)
// draws each wait from the upper half of its interval.
constexpr std::chrono::milliseconds first_retry = 250ms;
constexpr std::chrono::milliseconds last_retry = 10s;
constexpr std::chrono::milliseconds connect_timeout = 5s;
// A TCP receiver that acknowledges nothing for this long is dropped (and
// connected again), so a dead one does not hold its socket for minutes.
constexpr std::chrono::milliseconds unacknowledged_limit = 10s;
constexpr std::chrono::milliseconds drain_limit = 1s;

// One destination: its displays, the queue of those waiting to be sent, and
// (in the transports below) its socket. Shared with its handlers, which do
// nothing once it is closed.
class receiver : public std::enable_shared_from_this<receiver> {
public:
    receiver(asio::io_context& io, const umd_destination& to, const umd_config& config)
        : io_(io), to_(to), queue_(to.protocol, config.batch, config.tally31) {}
    virtual ~receiver() = default;

    // The number of the display at `screen` and `index` here: the one it
    // had (a receiver kept through a reload, which takes the new `lost`),
    // or a new one.
    size_t placeDisplay(uint16_t screen, uint16_t index, const router_lost& lost) {
        const auto [slot, added] = slots_.emplace(std::make_pair(screen, index), 0);
        if (added)
            slot->second = queue_.addDisplay(screen, index, lost);
        else
            queue_.setLostRule(slot->second, lost);
        return slot->second;
    }

    // Kept through a reload: the displays shown here that no display uses
    // any more are sent blank (and stay blank at each refresh).
    void blankUnused(const std::set<size_t>& used) {
        if (queue_.blank([&](size_t display) { return !used.count(display) && queue_.shown(display); }) != 0) wake();
    }

    // A TCP receiver holds a connection worth keeping through a reload.
    virtual bool connects() const { return false; }
    bool open() const { return !stopping_ && !closed_; }
    const umd_destination& to() const { return to_; }

    void show(size_t display, const std::string& text, const tally_lamps& lamps) {
        if (queue_.show(display, text, lamps)) wake();
    }

    void setRouterLost(size_t display, std::optional<tsl_queue::clock::time_point> since,
                       tsl_queue::clock::time_point now) {
        if (queue_.setRouterLost(display, since, now)) wake();
    }
    void advance(tsl_queue::clock::time_point now) {
        if (queue_.advance(now) != 0) wake();
    }
    std::optional<tsl_queue::clock::time_point> nextChange() const { return queue_.nextChange(); }
    lost_treatment treatment(size_t display) const { return queue_.treatment(display); }

    void refresh() {
        queue_.refresh();
        wake();
    }

    // Standby: the latest state of every display is still kept, but
    // nothing is sent and no connection is held; what waited is dropped.
    // Back to active: every display shown so far is sent at once.
    void setStandby(bool standby) {
        if (standby == queue_.standby() || closed_) return;
        if (stopping_) {
            // Draining before it closes: a standby host sends not even that.
            if (standby) close();
            return;
        }
        queue_.setStandby(standby);
        if (standby) {
            pause();
            setState("standby", "sends nothing while this host is standby");
        } else {
            setState("idle");
            wake();
        }
    }

    // Stops connecting; closes now, or once the displays `blank` picks (by
    // number) are sent blank. Calls `closed` when closed.
    void finish(const std::function<bool(size_t display)>& blank, std::function<void()> closed) {
        stopping_ = true;
        onClosed_ = std::move(closed);
        const bool blanking = ready() && queue_.blank(blank) != 0;
        if (!blanking || idle()) {
            close();
        } else {
            scheduleFlush();
        }
    }

    bool shown(size_t display) const { return queue_.shown(display); }

    virtual void close() = 0;

    umd_receiver_status status() const {
        umd_receiver_status status;
        status.to = to_;
        status.state = linkState_;
        status.detail = linkDetail_;
        status.lastSent = lastSent_;
        status.down = failing_;
        status.errors = errors_;
        status.connected = ready() && !closed_;
        status.connections = connections_;
        status.packetsSent = packetsSent_;
        status.displaysWaiting = queue_.waiting();
        return status;
    }

    // `changed` hears of every change of state; it outlives the receiver's
    // open life (the output drops it before it goes).
    void onChange(std::function<void(const umd_receiver_status&)> changed) { changed_ = std::move(changed); }

protected:
    // Something new waits, unless this host is standby or it is closed.
    void wake() {
        if (closed_ || queue_.standby() || queue_.waiting() == 0) return;
        demand();
    }

    void scheduleFlush() {
        if (flushPosted_ || closed_) return;
        flushPosted_ = true;
        asio::post(io_, [self = shared_from_this()] {
            self->flushPosted_ = false;
            if (!self->closed_) self->flush();
        });
    }

    void reportClosed() {
        closed_ = true;
        if (onClosed_) {
            auto closed = std::move(onClosed_);
            onClosed_ = nullptr;
            closed();
        }
    }

    // The link's state; a change is told (the detail alone is not).
    void setState(const char* state, std::string detail = {}) {
        linkDetail_ = std::move(detail);
        if (std::string_view(state) == "sending" || std::string_view(state) == "connected" ||
            std::string_view(state) == "standby")
            failing_ = false;
        if (linkState_ == state) return;
        linkState_ = state;
        if (changed_ && !closed_) changed_(status());
    }
    // A failure: counted, and the state it leaves the link in, with the
    // retry that is due.
    void failed(const char* state, const std::string& why, std::chrono::milliseconds retryIn) {
        ++errors_;
        failing_ = true;
        const long long seconds = (retryIn.count() + 999) / 1000;
        setState(state, why + "; retrying in " + std::to_string(seconds) + " s");
    }
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
    tsl_queue queue_;
    bool flushPosted_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    uint64_t connections_ = 0;
    uint64_t packetsSent_ = 0;
    uint64_t errors_ = 0;

private:
    std::string linkState_ = "idle";
    std::string linkDetail_;
    bool failing_ = false;
    std::chrono::system_clock::time_point lastSent_{};
    std::function<void(const umd_receiver_status&)> changed_;

    std::function<void()> onClosed_;
    std::map<std::pair<uint16_t, uint16_t>, size_t> slots_;  // (screen, index) -> display number
};

// Numeric addresses need no resolver (and no resolver thread).
template <typename protocol>
bool numericEndpoint(const umd_destination& to, typename protocol::endpoint& out) {
    error_code error;
    const auto address = asio::ip::make_address(to.host, error);
    if (error) return false;
    out = typename protocol::endpoint(address, to.port);
    return true;
}

class udp_receiver final : public receiver {
public:
    udp_receiver(asio::io_context& io, const umd_destination& to, const umd_config& config)
        : receiver(io, to, config), socket_(io), resolver_(io), retryTimer_(io) {}

    void close() override {
        if (closed_) return;
        pause();
        reportClosed();
    }

private:
    enum class state { idle, resolving, waiting, ready };

    void pause() override {
        ++generation_;
        error_code ignored;
        retryTimer_.cancel();
        retryDelay_ = first_retry;
        resolver_.cancel();
        socket_.close(ignored);
        batch_.clear();
        waitingWritable_ = false;
        state_ = state::idle;
    }

    bool ready() const override { return state_ == state::ready; }
    bool idle() const override { return queue_.waiting() == 0 && batch_.empty() && !waitingWritable_; }

    void demand() override {
        if (state_ == state::ready) {
            scheduleFlush();
        } else if (state_ == state::idle && !stopping_) {
            open();
        }
    }

    void open() {
        asio::ip::udp::endpoint endpoint;
        if (numericEndpoint<asio::ip::udp>(to_, endpoint)) {
            opened(endpoint);
            return;
        }
        state_ = state::resolving;
        setState("resolving", to_.host);
        resolver_.async_resolve(to_.host, std::to_string(to_.port), asio::ip::udp::resolver::numeric_service,
                                [self = shared_from_this(), this, generation = generation_](const error_code& error,
                                                                                            auto results) {
                                    if (closed_ || generation != generation_) return;
                                    if (error || results.empty()) {
                                        retryLater("unresolved", "\"" + to_.host + "\": " +
                                                                     (error ? error.message() : "no address"));
                                    } else {
                                        opened(results.begin()->endpoint());
                                    }
                                });
    }

    void opened(const asio::ip::udp::endpoint& endpoint) {
        error_code error;
        socket_.open(endpoint.protocol(), error);
        if (!error) socket_.non_blocking(true, error);
        if (error) {
            const std::string why = "socket: " + error.message();
            socket_.close(error);
            retryLater("lost", why);
            return;
        }
        endpoint_ = endpoint;
        state_ = state::ready;
        retryDelay_ = first_retry;
        ++connections_;
        setState("sending", endpoint.address().to_string() + ":" + std::to_string(endpoint.port()));
        scheduleFlush();
    }

    void retryLater(const char* why, const std::string& detail) {
        state_ = state::waiting;
        const auto delay = retryDelay_;
        retryDelay_ = std::min(retryDelay_ * 2, last_retry);
        failed(why, detail, delay);
        retryTimer_.expires_after(delay);
        retryTimer_.async_wait([self = shared_from_this(), this, generation = generation_](const error_code& error) {
            if (error || closed_ || generation != generation_) return;
            state_ = state::idle;
            if (queue_.waiting() != 0) open();
        });
    }

    void flush() override {
        if (state_ != state::ready || waitingWritable_) return;
        batch_.fill(queue_, packets_per_turn);
        if (batch_.empty()) {
            if (stopping_) close();
            return;
        }
        const auto done =
            batch_.send(socket_.native_handle(), endpoint_.data(), static_cast<socklen_t>(endpoint_.size()));
        // A datagram refused for any other reason than a full socket is
        // lost, as the network may lose it; the next change or refresh sends
        // the display again.
        errors_ += done.lost;
        if (done.sent != 0) countSent(done.sent);
        if (done.blocked) {
            waitingWritable_ = true;
            socket_.async_wait(asio::socket_base::wait_write,
                               [self = shared_from_this(), this, generation = generation_](const error_code& waitError) {
                                   if (generation != generation_) return;
                                   waitingWritable_ = false;
                                   if (!waitError && !closed_) flush();
                               });
            return;
        }
        scheduleFlush();
    }

    asio::ip::udp::socket socket_;
    asio::ip::udp::resolver resolver_;
    asio::ip::udp::endpoint endpoint_;
    state state_ = state::idle;
    // Tells the handlers of a paused socket from those of the current.
    uint64_t generation_ = 0;
    datagram_batch batch_;  // the datagrams the socket has not taken yet
    bool waitingWritable_ = false;
    // A name that did not resolve is tried again after 0.25 s, doubling up
    // to 10 s.
    asio::steady_timer retryTimer_;
    std::chrono::milliseconds retryDelay_ = first_retry;
};

// A TSL TCP receiver on the host's one TCP client (tcp_carrier), used its own
// way: connected only once a display is shown, drained before it closes,
// closed at once in standby, and with one write in flight so that the
// queue, which keeps one state per display, takes the backlog rather than
// the carrier's write queue. A receiver says nothing back; the carrier's
// reads only tell when it hangs up.
class tcp_receiver final : public receiver, public tcp::tcp_carrier_listener {
public:
    tcp_receiver(asio::io_context& io, const umd_destination& to, const umd_config& config)
        : receiver(io, to, config), carrier_(std::make_shared<tcp::tcp_carrier>(io, carrierSettings(to), *this)) {}
    // Closes the carrier, whose handlers may outlive this and then call no one.
    ~tcp_receiver() override { carrier_->close(); }

    void close() override {
        if (closed_) return;
        carrier_->close();
        reportClosed();
    }

    bool connects() const override { return true; }

private:
    static tcp::tcp_carrier_settings carrierSettings(const umd_destination& to) {
        tcp::tcp_carrier_settings settings;
        settings.host = to.host;
        settings.port = to.port;
        settings.connectTimeout = connect_timeout;
        settings.backOffFirst = first_retry;
        settings.backOffCap = last_retry;
        settings.unacknowledgedLimit = unacknowledged_limit;
        return settings;
    }

    // Standby: nothing more reaches the screen, not even what the kernel
    // still holds (a link that was down would deliver it late, after the
    // other host's newer texts).
    void pause() override { carrier_->abort(); }

    bool ready() const override { return carrier_->connected(); }
    bool idle() const override { return queue_.waiting() == 0 && carrier_->queued() == 0; }

    void demand() override {
        if (carrier_->connected()) {
            scheduleFlush();
        } else if (!carrier_->isOpen() && !stopping_) {
            carrier_->open();
        }
    }

    void resolving() override { setState("resolving", to_.host); }

    void connecting(const std::vector<asio::ip::tcp::endpoint>& endpoints) override {
        setState("connecting", endpoints.front().address().to_string() + ":" + std::to_string(endpoints.front().port()));
    }

    void connected(const asio::ip::tcp::endpoint& peer) override {
        const auto self = shared_from_this();
        carrier_->resetBackoff();
        packetsInFlight_ = 0;
        ++connections_;
        setState("connected", peer.address().to_string() + ":" + std::to_string(peer.port()));
        // The receiver may have restarted: it gets everything shown so far.
        refresh();
        scheduleFlush();
    }

    void drained() override {
        const auto self = shared_from_this();
        countSent(packetsInFlight_);
        packetsInFlight_ = 0;
        flush();
    }

    void failed(const tcp::tcp_failure& failure, std::chrono::milliseconds retryIn) override {
        const auto self = shared_from_this();
        packetsInFlight_ = 0;
        if (stopping_) {
            close();
            return;
        }
        const std::string why = tcp::failureText(failure, "receiver", to_.host, connect_timeout);
        using cause = tcp::tcp_failure::cause;
        switch (failure.what) {
        case cause::unresolved:
            failed("unresolved", why, retryIn);
            break;
        case cause::refused:
            failed("refused", why, retryIn);
            break;
        default:
            failed("lost", why, retryIn);
            break;
        }
    }
    using receiver::failed;

    void flush() override {
        if (!carrier_->connected() || carrier_->queued() != 0) return;
        writeBuffer_.clear();
        size_t packets = 0;
        while (writeBuffer_.size() < stream_chunk && queue_.nextPacket(packet_)) {
            appendTsl5StreamFrame(writeBuffer_, packet_);
            ++packets;
        }
        if (packets == 0) {
            if (stopping_) close();
            return;
        }
        packetsInFlight_ = packets;
        carrier_->send(writeBuffer_);
    }

    const std::shared_ptr<tcp::tcp_carrier> carrier_;  // owned; shared with its handlers, closed by close()
    size_t packetsInFlight_ = 0;                       // in the write under way
    std::string packet_;
    std::string writeBuffer_;
};

}  // namespace

struct umd_output::impl : std::enable_shared_from_this<impl> {
    impl(asio::io_context& context, const umd_config& settings)
        : io(context), config(settings), refreshTimer(context), drainTimer(context), lostTimer(context) {}

    void start(impl* previous) {
        std::map<umd_destination, std::shared_ptr<receiver>> byDestination;
        std::set<receiver*> kept;
        for (const umd_display& display : config.displays) {
            auto& owner = byDestination[display.to];
            if (!owner) {
                if (previous && (owner = previous->handOver(display.to, config))) {
                    kept.insert(owner.get());
                } else if (display.to.transport == umd_transport::tcp) {
                    owner = std::make_shared<tcp_receiver>(io, display.to, config);
                } else {
                    owner = std::make_shared<udp_receiver>(io, display.to, config);
                }
                receivers.push_back(owner);
            }
            displays[display.name] = {owner.get(), owner->placeDisplay(display.screen, display.index, config.lostFor(display.name))};
        }
        for (receiver* r : kept) {
            std::set<size_t> used;
            for (const auto& [name, place] : displays)
                if (place.first == r) used.insert(place.second);
            r->blankUnused(used);
        }
        scheduleRefresh();
    }

    // At a reload: the open TCP receiver of `to`, taken out of this output
    // with its connection, when its packets are built as `next` builds
    // them; else null.
    std::shared_ptr<receiver> handOver(const umd_destination& to, const umd_config& next) {
        if (stopped || config.batch != next.batch || config.tally31 != next.tally31) return nullptr;
        const auto found = std::find_if(receivers.begin(), receivers.end(), [&to](const std::shared_ptr<receiver>& r) {
            return r->to() == to && r->connects() && r->open();
        });
        if (found == receivers.end()) return nullptr;
        std::shared_ptr<receiver> taken = *found;
        receivers.erase(found);
        for (auto d = displays.begin(); d != displays.end();)
            d = d->second.first == taken.get() ? displays.erase(d) : std::next(d);
        return taken;
    }

    void scheduleRefresh() {
        if (config.refresh.count() == 0 || stopped) return;
        refreshTimer.expires_after(config.refresh);
        refreshTimer.async_wait([self = shared_from_this()](const error_code& error) {
            if (error || self->stopped) return;
            for (const auto& receiver : self->receivers) receiver->refresh();
            self->scheduleRefresh();
        });
    }

    // The displays whose blank or text is due change at the earliest due time.
    void scheduleLost() {
        if (stopped) return;
        std::optional<tsl_queue::clock::time_point> next;
        for (const auto& receiver : receivers)
            if (const auto due = receiver->nextChange(); due && (!next || *due < *next)) next = due;
        if (!next) {
            lostTimer.cancel();
            return;
        }
        lostTimer.expires_at(*next);
        lostTimer.async_wait([weak = weak_from_this()](const error_code& error) {
            const auto self = weak.lock();
            if (error || !self || self->stopped) return;
            const auto now = tsl_queue::clock::now();
            for (const auto& receiver : self->receivers) receiver->advance(now);
            self->reportTreatments();
            self->scheduleLost();
        });
    }

    // Tells of each display whose screen now shows something else of its
    // router's loss.
    void reportTreatments() {
        for (const umd_display& display : config.displays) {
            const auto& [owner, number] = displays[display.name];
            const lost_treatment now = owner->treatment(number);
            lost_treatment& told = reported[display.name];
            if (now == told) continue;
            told = now;
            if (treatmentChanged) treatmentChanged(display.name, now);
        }
    }

    // `blank`: whether to send this receiver's display (by number) blank.
    void stop(const std::function<bool(const receiver&, size_t display)>& blank) {
        if (stopped) return;
        stopped = true;
        refreshTimer.cancel();
        lostTimer.cancel();
        open = receivers.size();
        if (open != 0) {
            drainTimer.expires_after(drain_limit);
            drainTimer.async_wait([self = shared_from_this()](const error_code& error) {
                if (error) return;
                for (const auto& receiver : self->receivers) receiver->close();
            });
        }
        for (const auto& receiver : receivers) {
            const auto picks = [&blank, &r = *receiver](size_t display) { return blank(r, display); };
            receiver->finish(picks, [weak = weak_from_this()] {
                if (auto self = weak.lock(); self && --self->open == 0) self->drainTimer.cancel();
            });
        }
    }

    asio::io_context& io;
    const umd_config config;
    std::vector<std::shared_ptr<receiver>> receivers;
    // Display name to its receiver (owned by `receivers`) and its number there.
    std::unordered_map<std::string, std::pair<receiver*, size_t>> displays;
    asio::steady_timer refreshTimer;
    asio::steady_timer drainTimer;
    asio::steady_timer lostTimer;
    std::unordered_map<std::string, lost_treatment> reported;  // as last told, by display
    std::function<void(const std::string&, lost_treatment)> treatmentChanged;
    bool stopped = false;
    bool standby = false;
    size_t open = 0;  // receivers not yet closed after stop()
};

umd_output::umd_output(asio::io_context& io, const umd_config& config, umd_output* previous)
    : impl_(std::make_shared<impl>(io, config)) {
    impl_->start(previous ? previous->impl_.get() : nullptr);
}

umd_output::~umd_output() {
    impl_->stopped = true;
    impl_->refreshTimer.cancel();
    impl_->drainTimer.cancel();
    impl_->lostTimer.cancel();
    for (const auto& receiver : impl_->receivers) receiver->close();
}

void umd_output::show(const std::string& display, const std::string& text, const std::string& statesheet) {
    show(display, text, impl_->config.lampsFor(statesheet));
}

void umd_output::show(const std::string& display, const std::string& text, const tally_lamps& lamps) {
    if (impl_->stopped) return;
    const auto found = impl_->displays.find(display);
    if (found == impl_->displays.end()) return;
    found->second.first->show(found->second.second, text, lamps);
}

void umd_output::routerLost(const std::string& display, std::optional<std::chrono::steady_clock::time_point> since) {
    if (impl_->stopped) return;
    const auto found = impl_->displays.find(display);
    if (found == impl_->displays.end()) return;
    found->second.first->setRouterLost(found->second.second, since, std::chrono::steady_clock::now());
    impl_->reportTreatments();
    impl_->scheduleLost();
}

std::vector<std::pair<std::string, lost_treatment>> umd_output::treatments() const {
    std::vector<std::pair<std::string, lost_treatment>> all;
    for (const umd_display& display : impl_->config.displays) {
        // A display whose TCP screen a newer output took over is no longer here.
        const auto found = impl_->displays.find(display.name);
        if (found == impl_->displays.end()) continue;
        const auto& [owner, number] = found->second;
        if (owner->treatment(number) != lost_treatment::keep) all.emplace_back(display.name, owner->treatment(number));
    }
    return all;
}

void umd_output::onTreatmentChange(std::function<void(const std::string&, lost_treatment)> changed) {
    impl_->treatmentChanged = std::move(changed);
}

std::vector<std::string> umd_output::carryTreatments(const std::vector<std::pair<std::string, lost_treatment>>& told) {
    std::vector<std::string> gone;
    for (const auto& [display, treatment] : told) {
        if (impl_->displays.count(display))
            impl_->reported[display] = treatment;
        else
            gone.push_back(display);
    }
    return gone;
}

void umd_output::setStandby(bool standby) {
    if (impl_->standby == standby) return;
    impl_->standby = standby;
    for (const auto& receiver : impl_->receivers) receiver->setStandby(standby);
}

bool umd_output::standby() const { return impl_->standby; }

void umd_output::onReceiverChange(std::function<void(const umd_receiver_status&)> changed) {
    for (const auto& receiver : impl_->receivers) receiver->onChange(changed);
}

void umd_output::stop() {
    const bool blank = impl_->config.blank_on_exit;
    impl_->stop([blank](const receiver&, size_t) { return blank; });
}

void umd_output::retire(const std::set<std::string>& removed) {
    std::set<std::pair<const receiver*, size_t>> picked;
    for (const std::string& name : removed) {
        const auto found = impl_->displays.find(name);
        if (found != impl_->displays.end()) picked.emplace(found->second.first, found->second.second);
    }
    impl_->stop([&picked](const receiver& r, size_t display) { return picked.count({&r, display}) && r.shown(display); });
}

bool umd_output::finished() const { return impl_->stopped && impl_->open == 0; }

uint64_t umd_output::packetsSent() const {
    uint64_t total = 0;
    for (const auto& receiver : impl_->receivers) total += receiver->status().packetsSent;
    return total;
}

size_t umd_output::receiversConnected() const {
    size_t total = 0;
    for (const auto& receiver : impl_->receivers) total += receiver->status().connected ? 1 : 0;
    return total;
}

std::vector<umd_receiver_status> umd_output::receivers() const {
    std::vector<umd_receiver_status> all;
    for (const auto& receiver : impl_->receivers) all.push_back(receiver->status());
    return all;
}

}  // namespace quon
