// two_channel_connection: a tcp_connection for a two_channel_client, which
// adds what the one channel does not carry: channel 1, a second carrier
// made when the client first opens it and closed with every end of the
// first, and act::reopen of either channel, to where it says. Channel 1's
// silence and unanswered keep-alive fail the router as channel 0's do,
// worded "on the second connection"; its carrier's failure is the router's
// too. Both carriers go back to the router's own address at every loss.
//
// Runs on the io_context's thread only, as tcp_connection, whose ownership
// it shares: it is held by shared_from_this() in its pending operations.
// The second carrier is owned, shared with its own handlers, and closed at
// every end of the first and at destruction.
#ifndef QUON_ROUTERS_TWO_CHANNEL_CONNECTION_H
#define QUON_ROUTERS_TWO_CHANNEL_CONNECTION_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>

#include "quon/routers/two_channel_client.h"
#include "tcp_connection.h"

namespace quon::routers {

class two_channel_connection final : public tcp_connection {
public:
    two_channel_connection(boost::asio::io_context& io, const router_settings& settings, router_listener& listener,
                           std::unique_ptr<two_channel_client> client);
    // Closes the second carrier, whose handlers may outlive this and then
    // call no one.
    ~two_channel_connection() override {
        if (second_) second_->close();
    }

private:
    void carry(const router_action& action) override;
    std::string failureText(const tcp::tcp_failure& failure) const override;
    std::string silentElsewhere(std::chrono::steady_clock::time_point now) override;
    std::string unansweredElsewhere(std::chrono::steady_clock::time_point now) const override;
    bool unreadElsewhere() const override;
    void askedElsewhere(int channel, std::chrono::steady_clock::time_point now) override;
    void ending() override;

    // The client's act::reopen: a new connection on its channel at once,
    // staying up.
    void reopen(const act::reopen& where);
    // What a failure's text adds when the connection was not to the
    // router's own address: where it was.
    std::string elsewhere(const std::string& peer) const;
    // Channel 1's carrier's reports.
    void secondConnected();
    void secondReceived(const std::uint8_t* data, std::size_t size);
    void secondFailed(const tcp::tcp_failure& failure);

    // Tells the connection of channel 1's carrier's reports, naming the channel.
    struct second_listener final : tcp::tcp_carrier_listener {
        explicit second_listener(two_channel_connection& owner) : owner(owner) {}
        void connected(const boost::asio::ip::tcp::endpoint&) override { owner.secondConnected(); }
        void received(const std::uint8_t* data, std::size_t size) override { owner.secondReceived(data, size); }
        void failed(const tcp::tcp_failure& failure, std::chrono::milliseconds) override {
            owner.secondFailed(failure);
        }
        two_channel_connection& owner;  // its owner
    };

    boost::asio::io_context& io_;  // borrowed; outlives the connection
    two_channel_client& client_;   // the one tcp_connection owns
    second_listener secondListener_{*this};
    std::shared_ptr<tcp::tcp_carrier> second_;  // channel 1: owned, made when the client first opens it
    std::chrono::steady_clock::time_point secondLastReceived_;
    // When a keep-alive was sent on channel 1 that nothing has come back
    // after yet.
    std::optional<std::chrono::steady_clock::time_point> secondAskedAt_;
    // Where each channel's connection goes: the router's address, or where
    // the client last said (act::reopen).
    std::string peer_[2];      // "host:port"; empty before the client's first act::reopen
    std::string peerHost_[2];  // its host, named in a failure's text
};

}  // namespace quon::routers

#endif
