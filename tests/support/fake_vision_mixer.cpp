#include "fake_vision_mixer.h"

#include <boost/asio/write.hpp>

#include "quon/screens/tsl31/tsl31_packet.h"
#include "quon/screens/tsl5/tsl5_packet.h"

namespace asio = boost::asio;

fake_vision_mixer::fake_vision_mixer(asio::io_context& io, wire how, std::uint16_t port, int inputs)
    : how_(how), port_(port), inputs_(inputs), udp_(io), tcp_(io), timer_(io) {}

void fake_vision_mixer::cut(int input) {
    preview_ = program_;
    program_ = input;
    send();
}

void fake_vision_mixer::preview(int input) {
    preview_ = input;
    send();
}

std::string fake_vision_mixer::tsl5State() const {
    std::string packet;
    quon::beginTsl5Packet(packet, 0, false);
    for (int i = 1; i <= inputs_; ++i) {
        quon::tally_lamps lamps;
        if (i == program_) lamps.left = lamps.text = quon::lamp_colour::red;
        if (i == preview_) lamps.right = quon::lamp_colour::green;
        quon::appendTsl5Message(packet, static_cast<std::uint16_t>(i), lamps,
                                i % 2 ? quon::tsl5Text("CAM " + std::to_string(i)) : quon::tsl5_text{});
    }
    quon::finishTsl5Packet(packet);
    return packet;
}

void fake_vision_mixer::send() {
    const asio::ip::address loopback = asio::ip::make_address("127.0.0.1");
    if (how_ == wire::tsl5_tcp) {
        if (!tcp_.is_open()) tcp_.connect(asio::ip::tcp::endpoint(loopback, port_));
        std::string stream;
        quon::appendTsl5StreamFrame(stream, tsl5State());
        asio::write(tcp_, asio::buffer(stream));
        return;
    }
    if (!udp_.is_open()) udp_.open(asio::ip::udp::v4());
    const asio::ip::udp::endpoint to(loopback, port_);
    if (how_ == wire::tsl5_udp) {
        udp_.send_to(asio::buffer(tsl5State()), to);
        return;
    }
    for (int i = 1; i <= inputs_; ++i) {
        const std::uint8_t control = static_cast<std::uint8_t>(0x30 | (i == program_ ? 1 : 0) | (i == preview_ ? 2 : 0));
        udp_.send_to(asio::buffer(quon::tsl31Packet(static_cast<std::uint8_t>(i), control,
                                                    quon::tsl31Text("CAM " + std::to_string(i)))),
                     to);
    }
}

void fake_vision_mixer::repeat(std::chrono::milliseconds every) {
    every_ = every;
    send();
    timer_.expires_after(every_);
    timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error) repeat(every_);
    });
}

void fake_vision_mixer::quiet() { timer_.cancel(); }
