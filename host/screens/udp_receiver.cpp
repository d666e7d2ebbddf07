// A receiver over UDP: a packet a datagram, handed to the kernel in batches
// (datagram_batch); a name that does not resolve is tried again after the
// back-off the TCP receivers use.
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "quon/screens/datagram_batch.h"
#include "quon/tcp/retry_backoff.h"
#include "receiver.h"

namespace quon::screens {

namespace {

using boost::system::error_code;

class udp_receiver final : public receiver {
public:
    udp_receiver(asio::io_context& io, const umd_destination& to, const umd_config& config)
        : receiver(io, to, config),
          socket_(io),
          resolver_(io),
          retryTimer_(io),
          backoff_(first_retry, last_retry,
                   static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {}

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
        backoff_.reset();
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
        // Numeric addresses need no resolver (and no resolver thread).
        error_code notNumeric;
        const auto address = asio::ip::make_address(to_.host, notNumeric);
        if (!notNumeric) {
            opened(asio::ip::udp::endpoint(address, to_.port));
            return;
        }
        state_ = state::resolving;
        setState(umd_receiver_state::resolving, to_.host);
        resolver_.async_resolve(to_.host, std::to_string(to_.port), asio::ip::udp::resolver::numeric_service,
                                [self = shared_from_this(), this, generation = generation_](const error_code& error,
                                                                                            auto results) {
                                    if (closed_ || generation != generation_) return;
                                    if (error || results.empty()) {
                                        retryLater(umd_receiver_state::unresolved,
                                                   "\"" + to_.host + "\": " + (error ? error.message() : "no address"));
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
            retryLater(umd_receiver_state::lost, why);
            return;
        }
        endpoint_ = endpoint;
        state_ = state::ready;
        backoff_.reset();
        ++connections_;
        setState(umd_receiver_state::sending, endpoint.address().to_string() + ":" + std::to_string(endpoint.port()));
        scheduleFlush();
    }

    void retryLater(umd_receiver_state why, const std::string& detail) {
        state_ = state::waiting;
        const auto delay = backoff_.next();
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
    asio::steady_timer retryTimer_;
    tcp::retry_backoff backoff_;
};

}  // namespace

std::shared_ptr<receiver> makeUdpReceiver(asio::io_context& io, const umd_destination& to, const umd_config& config) {
    return std::make_shared<udp_receiver>(io, to, config);
}

}  // namespace quon::screens
