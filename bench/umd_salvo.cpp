// The TSL UMD output under a salvo: 1,000 displays change at once and go
// through umd_output to a UDP receiver on loopback, timed to the last packet
// received. Its floor sends the same datagrams, prepared beforehand, from a
// plain socket in a loop.
#include <benchmark/benchmark.h>

#include <boost/asio.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "quon/umd/tsl_packet.h"
#include "quon/umd/umd_output.h"

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
    // Takes what is waiting now, without the event loop.
    void drain() {
        error_code error;
        while (true) {
            socket_.receive(asio::buffer(buffer_), 0, error);
            if (error) return;
            ++received;
        }
    }
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

// Runs `io` until `done`, at most a few seconds; false when it ran out.
template <typename predicate>
bool runUntil(asio::io_context& io, predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        io.run_one_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string sourceName(int round, int display) { return "SRC " + std::to_string((round + display) % 997 + 1); }

void umdSalvo(benchmark::State& state) {
    asio::io_context io;
    counting_receiver receiver(io);
    umd_config config;
    config.refresh = std::chrono::milliseconds(0);
    config.tallies["umd_alarm"] = tally_lamps{lamp_colour::red, lamp_colour::red, lamp_colour::off, 3};
    const umd_destination to{umd_protocol::tsl5, umd_transport::udp, "127.0.0.1", receiver.endpoint().port()};
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
        if (!runUntil(io, [&] { return receiver.received >= expected; })) {
            state.SkipWithError("datagrams were lost on loopback");
            break;
        }
    }
    state.counters["packets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kDisplays, benchmark::Counter::kIsRate);
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
        if (!runUntil(io, [&] { return receiver.received >= expected; })) {
            state.SkipWithError("datagrams were lost on loopback");
            break;
        }
    }
    state.counters["packets/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kDisplays, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(umdSalvo)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(umdSalvoFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
