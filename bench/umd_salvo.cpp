// The TSL UMD output under a salvo: 1,000 displays change at once and go
// through umd_output to a UDP receiver on loopback, timed to the last packet
// received, a display a datagram and with `batch`. Its floor sends the
// datagrams of a display each, prepared beforehand, from a plain socket in a
// loop, one sendto each.
#include <benchmark/benchmark.h>

#include <boost/asio.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "loop_until.h"
#include "quon/screens/tsl5/tsl5_packet.h"
#include "quon/screens/tsl31/tsl31_protocol.h"
#include "quon/screens/tsl5/tsl5_protocol.h"
#include "quon/screens/umd_output.h"

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

using namespace quon;

constexpr int kDisplays = 1000;

// A receiver that takes every datagram waiting each time it wakes up.
class counting_receiver {
public:
    explicit counting_receiver(asio::io_context& io)
        : socket_(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        socket_.set_option(asio::socket_base::receive_buffer_size(4 << 20));
        socket_.non_blocking(true);
        wait();
    }
    asio::ip::udp::endpoint endpoint() const { return socket_.local_endpoint(); }
    // Takes what is waiting now, without the event loop, counting the
    // display messages of each TSL 5 packet.
    void drain() {
        error_code error;
        while (true) {
            const size_t size = socket_.receive(asio::buffer(buffer_), 0, error);
            if (error) return;
            for (size_t at = tsl5_header_size; at + tsl5_message_header_size <= size; ++received) {
                const size_t length = static_cast<unsigned char>(buffer_[at + 4]) |
                                      static_cast<size_t>(static_cast<unsigned char>(buffer_[at + 5])) << 8;
                at += tsl5_message_header_size + length;
            }
        }
    }
    // Display messages received.
    uint64_t received = 0;

private:
    void wait() {
        socket_.async_wait(asio::socket_base::wait_read, [this](const error_code& error) {
            if (error) return;
            drain();
            wait();
        });
    }
    asio::ip::udp::socket socket_;
    std::array<char, 4096> buffer_{};
};

std::string sourceName(int round, int display) { return "SRC " + std::to_string((round + display) % 997 + 1); }

void umdSalvo(benchmark::State& state) {
    asio::io_context io;
    counting_receiver receiver(io);
    umd_config config;
    config.refresh = std::chrono::milliseconds(0);
    config.batch = state.range(0) != 0;
    config.tallies["umd_alarm"] = tally_lamps{lamp_colour::red, lamp_colour::red, lamp_colour::off, 3};
    const umd_destination to{&tsl5_protocol, umd_transport::udp, "127.0.0.1", receiver.endpoint().port()};
    std::vector<std::string> names;
    for (int i = 0; i < kDisplays; ++i) {
        names.push_back("mon" + std::to_string(i));
        config.displays.push_back({names.back(), to, 0, static_cast<uint16_t>(i)});
    }
    umd_output output(io, config);

    int round = 0;
    uint64_t expected = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < kDisplays; ++i) output.show(names[i], sourceName(round, i), i % 10 ? "" : "umd_alarm");
        expected += kDisplays;
        if (!bench::runUntil(io, [&] { return receiver.received >= expected; })) {
            state.SkipWithError("displays were lost on loopback");
            break;
        }
    }
    state.counters["displays/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kDisplays, benchmark::Counter::kIsRate);
    state.SetLabel(config.batch ? "batch" : "a display a datagram");
}

void umdSalvoFloor(benchmark::State& state) {
    asio::io_context io;
    counting_receiver receiver(io);
    asio::ip::udp::socket sender(io, asio::ip::udp::v4());
    const auto to = receiver.endpoint();
    std::vector<std::string> datagrams;
    for (int i = 0; i < kDisplays; ++i) {
        datagrams.push_back(tsl5Packet(0, static_cast<uint16_t>(i), tally_lamps{}, tsl5Text(sourceName(1, i))));
    }

    uint64_t expected = 0;
    for (auto _ : state) {
        for (int i = 0; i < kDisplays; ++i) {
            sender.send_to(asio::buffer(datagrams[i]), to);
            // As often as the output yields to its event loop.
            if (i % 64 == 63) receiver.drain();
        }
        expected += kDisplays;
        if (!bench::runUntil(io, [&] { return receiver.received >= expected; })) {
            state.SkipWithError("displays were lost on loopback");
            break;
        }
    }
    state.counters["displays/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kDisplays, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(umdSalvo)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(umdSalvoFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
