// The web view's cost on the host's loop: a wall of 1,000 displays changing
// as fast as the benchmark can call setDisplay(), with N pages connected over
// loopback WebSockets. The pages read in a thread of their own, as browsers
// would in other processes; the timed loop is the host's: setDisplay() calls, and
// after every 1,000 of them one turn of the io_context (the flush, the
// writes). At 100 changes a second per display, 1,000 displays make 100,000
// calls a second: `loop_share` is the share of a second they cost.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loop_until.h"
#include "quon/web/web_view.h"

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

constexpr int kDisplays = 1000;

// A page that upgrades and then reads and discards everything.
class draining_page {
public:
    draining_page(asio::io_context& io, unsigned short port) : socket_(io) {
        socket_.connect({asio::ip::make_address("127.0.0.1"), port});
        asio::write(socket_, asio::buffer(std::string(
                                 "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")));
    }

    void read() {
        socket_.async_read_some(asio::buffer(chunk_),
                                [this](const boost::system::error_code& failure, std::size_t size) {
                                    if (failure) return;
                                    received_ += size;
                                    read();
                                });
    }

    void close() {
        boost::system::error_code ignored;
        socket_.close(ignored);
    }

    std::size_t received() const { return received_; }

private:
    tcp::socket socket_;
    std::array<char, 1 << 16> chunk_{};
    std::atomic<std::size_t> received_{0};
};

void webViewTileChange(benchmark::State& state) {
    const int pages = static_cast<int>(state.range(0));
    asio::io_context io;
    quon::web::web_settings settings;
    settings.port = 0;
    settings.flushDelay = std::chrono::milliseconds(0);  // a flush per loop turn: more often than in use
    quon::web::web_view view(io, settings);
    std::string error;
    if (!view.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }

    std::vector<quon::web::display_state> tiles(kDisplays);
    for (int i = 0; i < kDisplays; ++i) {
        tiles[i].name = "MON " + std::to_string(i + 1);
        tiles[i].text = "SRC " + std::to_string(i + 1);
        tiles[i].notified = "sourceid=" + std::to_string(i + 1);
        tiles[i].router = 1;
        view.setDisplay(tiles[i]);
    }

    asio::io_context pageIo;
    std::vector<std::unique_ptr<draining_page>> readers;
    for (int i = 0; i < pages; ++i) readers.push_back(std::make_unique<draining_page>(pageIo, view.port()));
    for (auto& reader : readers) reader->read();
    auto keepRunning = asio::make_work_guard(pageIo);
    std::thread pageThread([&pageIo] { pageIo.run(); });

    // Every page open and holding the full state before the clock starts.
    const auto allOpen = [&] {
        if (view.clientCount() != static_cast<std::size_t>(pages)) return false;
        for (const auto& reader : readers)
            if (reader->received() < 1000) return false;
        return true;
    };
    // A skipped state runs no iteration; the pages are still closed below.
    if (!quon::bench::runUntil(io, allOpen)) state.SkipWithError("the pages did not open");

    const std::array<std::string, 4> sources{"CAM 1", "CAM 2 JIB", "VT 4", "REMOTE 12"};
    std::size_t calls = 0;
    const auto started = std::chrono::steady_clock::now();
    for (auto _ : state) {
        quon::web::display_state& tile = tiles[calls % kDisplays];
        tile.text = sources[(calls / kDisplays) % sources.size()];
        view.setDisplay(tile);
        if (++calls % kDisplays == 0) io.poll();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;

    std::size_t received = 0;
    for (const auto& reader : readers) received += reader->received();
    state.counters["loop_share"] = elapsed.count() / static_cast<double>(calls) * 100000.0;
    state.counters["pages_left"] = static_cast<double>(view.clientCount());
    state.counters["bytes_per_page"] = pages ? static_cast<double>(received) / pages : 0.0;

    view.stop();
    io.poll();
    asio::post(pageIo, [&readers] {
        for (auto& reader : readers) reader->close();
    });
    keepRunning.reset();
    pageThread.join();
}

BENCHMARK(webViewTileChange)->Arg(0)->Arg(1)->Arg(10)->Unit(benchmark::kNanosecond);

}  // namespace
