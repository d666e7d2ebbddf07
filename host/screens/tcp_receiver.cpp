// A receiver over TCP on the host's one TCP client (tcp_carrier), used its
// own way: connected only once a display is shown, drained before it
// closes, closed at once in standby, and with one write in flight so that
// the queue, which keeps one state per display, takes the backlog rather
// than the carrier's write queue. Packets go on the stream as the codec
// frames them. A receiver says nothing back; the carrier's reads only tell
// when it hangs up.
#include <vector>

#include "quon/tcp/tcp_carrier.h"
#include "quon/tcp/tcp_carrier_listener.h"
#include "quon/tcp/tcp_failure.h"
#include "receiver.h"

namespace quon::screens {

namespace {

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

    void resolving() override { setState(umd_receiver_state::resolving, to_.host); }

    void connecting(const std::vector<asio::ip::tcp::endpoint>& endpoints) override {
        setState(umd_receiver_state::connecting,
                 endpoints.front().address().to_string() + ":" + std::to_string(endpoints.front().port()));
    }

    void connected(const asio::ip::tcp::endpoint& peer) override {
        const auto self = shared_from_this();
        carrier_->resetBackoff();
        packetsInFlight_ = 0;
        ++connections_;
        setState(umd_receiver_state::connected, peer.address().to_string() + ":" + std::to_string(peer.port()));
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
        switch (failure.what) {
        case tcp::tcp_failure::cause::unresolved: failed(umd_receiver_state::unresolved, why, retryIn); break;
        case tcp::tcp_failure::cause::refused: failed(umd_receiver_state::refused, why, retryIn); break;
        default: failed(umd_receiver_state::lost, why, retryIn); break;
        }
    }
    using receiver::failed;

    void flush() override {
        if (!carrier_->connected() || carrier_->queued() != 0) return;
        writeBuffer_.clear();
        size_t packets = 0;
        while (writeBuffer_.size() < stream_chunk && queue_.nextPacket(packet_)) {
            codec_->frame(writeBuffer_, packet_);
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

std::shared_ptr<receiver> makeTcpReceiver(asio::io_context& io, const umd_destination& to, const umd_config& config) {
    return std::make_shared<tcp_receiver>(io, to, config);
}

}  // namespace quon::screens
