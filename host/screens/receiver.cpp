#include "receiver.h"

#include <boost/asio/post.hpp>

namespace quon::screens {

receiver::receiver(asio::io_context& io, const umd_destination& to, const umd_config& config)
    : io_(io), to_(to), codec_(to.protocol->makeCodec(config)), queue_(*codec_) {}

size_t receiver::placeDisplay(uint16_t screen, uint16_t index, const router_lost& lost) {
    const auto [slot, added] = slots_.emplace(std::make_pair(screen, index), 0);
    if (added)
        slot->second = queue_.addDisplay(screen, index, lost);
    else
        queue_.setLostRule(slot->second, lost);
    return slot->second;
}

void receiver::blankUnused(const std::set<size_t>& used) {
    if (queue_.blank([&](size_t display) { return !used.count(display) && queue_.shown(display); }) != 0) wake();
}

void receiver::setStandby(bool standby) {
    if (standby == queue_.standby() || closed_) return;
    if (stopping_) {
        // Draining before it closes: a standby host sends not even that.
        if (standby) close();
        return;
    }
    queue_.setStandby(standby);
    if (standby) {
        pause();
        setState(umd_receiver_state::standby, "sends nothing while this host is standby");
    } else {
        setState(umd_receiver_state::idle);
        wake();
    }
}

void receiver::finish(const std::function<bool(size_t display)>& blank, std::function<void()> closed) {
    stopping_ = true;
    onClosed_ = std::move(closed);
    const bool blanking = ready() && queue_.blank(blank) != 0;
    if (!blanking || idle()) {
        close();
    } else {
        scheduleFlush();
    }
}

umd_receiver_status receiver::status() const {
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

void receiver::scheduleFlush() {
    if (flushPosted_ || closed_) return;
    flushPosted_ = true;
    asio::post(io_, [self = shared_from_this()] {
        self->flushPosted_ = false;
        if (!self->closed_) self->flush();
    });
}

void receiver::reportClosed() {
    closed_ = true;
    if (onClosed_) {
        auto closed = std::move(onClosed_);
        onClosed_ = nullptr;
        closed();
    }
}

void receiver::setState(umd_receiver_state state, std::string detail) {
    linkDetail_ = std::move(detail);
    if (umdReceiverStateUp(state)) failing_ = false;
    if (linkState_ == state) return;
    linkState_ = state;
    if (changed_ && !closed_) changed_(status());
}

void receiver::failed(umd_receiver_state state, const std::string& why, std::chrono::milliseconds retryIn) {
    ++errors_;
    failing_ = true;
    const long long seconds = (retryIn.count() + 999) / 1000;
    setState(state, why + "; retrying in " + std::to_string(seconds) + " s");
}

}  // namespace quon::screens
