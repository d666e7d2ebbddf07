// The web view's cost on the host's loop: a wall of 1,000 displays changing
// as fast as the benchmark can call setDisplay(), with N pages connected over
// loopback WebSockets. The pages read in a thread of their own, as browsers
// would in other processes; the timed loop is the host's: setDisplay() calls, and
// after every 1,000 of them one turn of the io_context (the flush, the
// writes). At 100 changes a second per display, 1,000 displays make 100,000
// calls a second: `loop_share` is the share of a second they cost.
//
// Beside it, what a page sees and what it costs: the time from a change to
// its arrival at one open page, plain and over TLS; and the resident memory
// the host grows by per open page, on the same wall.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "loop_until.h"
#include "quon/web/page_tls.h"
#include "quon/web/web_view.h"
#include "test_ca.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr int kDisplays = 1000;

std::vector<quon::web::display_state> fillWall(quon::web::web_view& view) {
    std::vector<quon::web::display_state> tiles(kDisplays);
    for (int i = 0; i < kDisplays; ++i) {
        tiles[i].name = "MON " + std::to_string(i + 1);
        tiles[i].text = "SRC " + std::to_string(i + 1);
        tiles[i].notified = "sourceid=" + std::to_string(i + 1);
        tiles[i].router = 1;
        view.setDisplay(tiles[i]);
    }
    return tiles;
}

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

    std::vector<quon::web::display_state> tiles = fillWall(view);

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

// A browser's page: a WebSocket to /ws with Host 127.0.0.1 and no Origin,
// over TLS when given the CA to trust (and only it, as a browser would check
// the host's certificate). Blocking: it runs where the host's loop does not.
class page_client {
public:
    page_client(asio::io_context& io, unsigned short port, const std::string& caFile)
        : tls_(asio::ssl::context::tls_client) {
        const tcp::endpoint host{asio::ip::make_address("127.0.0.1"), port};
        if (caFile.empty()) {
            plain_.emplace(io);
            beast::get_lowest_layer(*plain_).connect(host);
            plain_->handshake("127.0.0.1", "/ws");
            return;
        }
        tls_.load_verify_file(caFile);
        tls_.set_verify_mode(asio::ssl::verify_peer);
        secure_.emplace(io, tls_);
        beast::get_lowest_layer(*secure_).connect(host);
        secure_->next_layer().set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
        secure_->next_layer().handshake(asio::ssl::stream_base::client);
        secure_->handshake("127.0.0.1", "/ws");
    }

    // The next message, valid until the next call; none once the page is
    // closed.
    std::optional<std::string_view> next() {
        buffer_.clear();
        beast::error_code failure;
        if (plain_)
            plain_->read(buffer_, failure);
        else
            secure_->read(buffer_, failure);
        if (failure) return std::nullopt;
        return std::string_view(static_cast<const char*>(buffer_.data().data()), buffer_.size());
    }

private:
    asio::ssl::context tls_;
    std::optional<websocket::stream<beast::tcp_stream>> plain_;
    std::optional<websocket::stream<beast::ssl_stream<beast::tcp_stream>>> secure_;
    beast::flat_buffer buffer_;
};

// The host serving TLS with a certificate made for this run; `caFile` is
// what its pages trust. Null, with `error` set, when it cannot be loaded.
std::unique_ptr<quon::test::test_ca> serveTls(quon::web::web_view& view, std::string& caFile, std::string& error) {
    auto ca = std::make_unique<quon::test::test_ca>();
    const quon::test::test_certificate certificate = ca->loopback();
    auto identity = quon::web::loadPageIdentity(certificate.certificateFile, certificate.keyFile, error);
    if (!identity) return nullptr;
    view.serveTls(std::move(identity), true);
    caFile = ca->caFile();
    return ca;
}

// From setDisplay() on the host's loop to the moment one open page (in a
// thread of its own, as a browser in another process) has read the update
// carrying it, one change at a time. With `flushDelay` 0 the figure is the
// host's own work and the wire's, each change flushed on the loop's next
// turn, which is where TLS's cost shows; with the default (20 ms) it is
// mostly that delay, as a browser sees it in use.
void webViewPageLatency(benchmark::State& state, bool tls, std::chrono::milliseconds flushDelay) {
    asio::io_context io;
    quon::web::web_settings settings;
    settings.port = 0;
    settings.flushDelay = flushDelay;
    quon::web::web_view view(io, settings);
    std::string error;
    std::string caFile;
    std::unique_ptr<quon::test::test_ca> ca;
    if (tls && !(ca = serveTls(view, caFile, error))) {
        state.SkipWithError(error.c_str());
        return;
    }
    if (!view.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<quon::web::display_state> tiles = fillWall(view);

    using clock = std::chrono::steady_clock;
    // Indexed by change; a change is read only once the page said it
    // arrived (`latest`, released after its stamp).
    std::vector<clock::time_point> arrivedAt(static_cast<std::size_t>(state.max_iterations) + 1);
    std::atomic<bool> opened{false};
    std::atomic<std::size_t> latest{0};
    const unsigned short port = view.port();
    std::thread page([&] {
        try {
            asio::io_context pageIo;
            page_client client(pageIo, port, caFile);
            if (!client.next()) return;  // the full state
            opened = true;
            while (const std::optional<std::string_view> message = client.next()) {
                const clock::time_point now = clock::now();
                const std::size_t at = message->find("CHANGE ");
                if (at == std::string_view::npos) continue;
                std::size_t change = 0;
                std::from_chars(message->data() + at + 7, message->data() + message->size(), change);
                if (change >= arrivedAt.size()) continue;
                arrivedAt[change] = now;
                latest.store(change, std::memory_order_release);
            }
        } catch (const std::exception&) {
            // The wait for the page tells.
        }
    });

    std::vector<double> took;
    took.reserve(arrivedAt.size());
    if (!quon::bench::runUntil(io, [&] { return opened && view.clientCount() == 1; }))
        state.SkipWithError("the page did not open");
    std::size_t change = 0;
    for (auto _ : state) {
        quon::web::display_state& tile = tiles[change % kDisplays];
        tile.text = "CHANGE " + std::to_string(++change);
        const clock::time_point sent = clock::now();
        view.setDisplay(tile);
        if (!quon::bench::runUntil(io, [&] { return latest.load(std::memory_order_acquire) >= change; })) {
            state.SkipWithError("a change did not arrive");
            break;
        }
        const std::chrono::duration<double> latency = arrivedAt[change] - sent;
        state.SetIterationTime(latency.count());
        took.push_back(latency.count());
    }

    if (!took.empty()) {
        std::sort(took.begin(), took.end());
        const auto percentile = [&](double share) {
            return took[static_cast<std::size_t>(std::ceil(share * took.size())) - 1] * 1e6;
        };
        state.counters["p50_us"] = percentile(0.50);
        state.counters["p99_us"] = percentile(0.99);
        state.counters["max_us"] = took.back() * 1e6;
    }
    view.stop();
    io.poll();
    page.join();
}

BENCHMARK_CAPTURE(webViewPageLatency, plain, false, std::chrono::milliseconds(0))
    ->Iterations(3000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(webViewPageLatency, tls, true, std::chrono::milliseconds(0))
    ->Iterations(3000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(webViewPageLatency, plain_default_flush, false, quon::web::web_settings().flushDelay)
    ->Iterations(500)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(webViewPageLatency, tls_default_flush, true, quon::web::web_settings().flushDelay)
    ->Iterations(500)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

constexpr std::size_t kOpenPages = 200;

struct memory_use {
    double resident = 0;  // VmRSS
    double heap = 0;      // what malloc has handed out and not had back
};

memory_use memoryNow() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    const struct mallinfo2 heap = ::mallinfo2();
    return {static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)),
            static_cast<double>(heap.uordblks + heap.hblkhd)};
}

// The pages of memoryPerPage, in a process of their own: one page, a word
// on `up`; at a word on `down` the rest, a word again; all held open until
// `down` closes. Each has read its full state before it counts.
[[noreturn]] void holdPages(unsigned short port, const std::string& caFile, int up, int down) {
    try {
        asio::io_context io;
        std::vector<std::unique_ptr<page_client>> pages;
        char word = '+';
        for (const std::size_t count : {std::size_t{1}, kOpenPages}) {
            while (pages.size() < count) {
                pages.push_back(std::make_unique<page_client>(io, port, caFile));
                if (!pages.back()->next()) ::_exit(1);
            }
            if (::write(up, &word, 1) != 1 || ::read(down, &word, 1) != 1) break;
        }
    } catch (const std::exception&) {
        ::_exit(1);
    }
    ::_exit(0);
}

// What the host grows by per open page, kOpenPages of them on the wall,
// each past its full state: resident memory and heap in use with them all,
// less with one, over the rest. The pages run in a child process, so the
// figure is the host's alone; the first page, left out, pays the one-off
// costs (code run for the first time, buffers first grown). Free heap from
// before is given back first, so that reusing it counts; what the full
// states leave free in the heap once written is counted.
std::optional<memory_use> memoryPerPage(bool tls, std::string& error) {
    asio::io_context io;
    quon::web::web_settings settings;
    settings.port = 0;
    quon::web::web_view view(io, settings);
    std::string caFile;
    std::unique_ptr<quon::test::test_ca> ca;
    if (tls && !(ca = serveTls(view, caFile, error))) return std::nullopt;
    if (!view.start(error)) return std::nullopt;
    fillWall(view);

    int up[2], down[2];
    if (::pipe2(up, O_CLOEXEC) != 0 || ::pipe2(down, O_CLOEXEC) != 0) {
        error = "no pipe";
        return std::nullopt;
    }
    const unsigned short port = view.port();
    // No thread but this one runs now, so the child may do as it likes.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(up[0]);
        ::close(down[1]);
        holdPages(port, caFile, up[1], down[0]);
    }
    ::close(up[1]);
    ::close(down[0]);
    ::fcntl(up[0], F_SETFL, O_NONBLOCK);
    const auto told = [&] {
        char word = 0;
        return ::read(up[0], &word, 1) != -1;  // a word, or the child gone
    };

    std::optional<memory_use> perPage;
    if (child > 0 && quon::bench::runUntil(io, told) && view.clientCount() == 1) {
        io.poll();  // the full state's write, done
        ::malloc_trim(0);
        const memory_use one = memoryNow();
        const char word = '+';
        if (::write(down[1], &word, 1) == 1 && quon::bench::runUntil(io, told) && view.clientCount() == kOpenPages) {
            io.poll();
            const memory_use all = memoryNow();
            perPage =
                memory_use{(all.resident - one.resident) / (kOpenPages - 1), (all.heap - one.heap) / (kOpenPages - 1)};
        }
    }
    ::close(down[1]);
    ::close(up[0]);
    if (child > 0) {
        // It may be waiting on a page the loop no longer serves: the
        // listener's copy it inherited still takes connections.
        if (!perPage) ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    if (!perPage) error = "the pages did not open";
    view.stop();
    io.poll();
    return perPage;
}

void webViewMemoryPerPage(benchmark::State& state) {
    for (auto _ : state) {
        std::string error;
        const std::optional<memory_use> plain = memoryPerPage(false, error);
        const std::optional<memory_use> tls = plain ? memoryPerPage(true, error) : std::nullopt;
        if (!tls) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.counters["bytes_per_page"] = plain->resident;
        state.counters["heap_per_page"] = plain->heap;
        state.counters["bytes_per_page_tls"] = tls->resident;
        state.counters["heap_per_page_tls"] = tls->heap;
    }
}

BENCHMARK(webViewMemoryPerPage)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
