// A fake vision mixer on loopback: it holds which of its inputs are in
// program and preview and sends its whole tally as mixers do, to
// 127.0.0.1: TSL 5 over UDP or over a TCP connection (DLE/STX framed), or
// TSL 3.1 over UDP. Every input in one TSL 5 packet, odd ones with a name
// and even ones tally only; TSL 3.1 one datagram an input. Program lights
// the left and text tallies red (TSL 3.1 tally 1), preview the right one
// green (tally 2). Everything runs on the io_context given at
// construction (borrowed; it outlives the mixer).
#ifndef QUON_TEST_FAKE_VISION_MIXER_H
#define QUON_TEST_FAKE_VISION_MIXER_H

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <string>

class fake_vision_mixer {
public:
    enum class wire { tsl5_udp, tsl5_tcp, tsl31_udp };

    // Inputs 1 to `inputs`, none on air.
    fake_vision_mixer(boost::asio::io_context& io, wire how, std::uint16_t port, int inputs = 8);
    fake_vision_mixer(const fake_vision_mixer&) = delete;
    fake_vision_mixer& operator=(const fake_vision_mixer&) = delete;

    // A cut: `input` to program, what was there to preview; then the
    // state is sent.
    void cut(int input);
    void preview(int input);
    // Sends the whole state now, then every `every` until quiet().
    void repeat(std::chrono::milliseconds every);
    void quiet();
    // Sends the whole state once (TCP: connects first, blocking, on
    // loopback).
    void send();

private:
    std::string tsl5State() const;

    wire how_;
    std::uint16_t port_;
    int inputs_;
    int program_ = 0;
    int preview_ = 0;
    boost::asio::ip::udp::socket udp_;
    boost::asio::ip::tcp::socket tcp_;
    boost::asio::steady_timer timer_;
    std::chrono::milliseconds every_{0};
};

#endif
