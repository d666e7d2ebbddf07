// From a router's route change to the screen, on the wire: a fake router of
// each protocol (Videohub, SW-P-08, Ember+, Quartz, and an NMOS registry's
// WebSocket) pushes route changes over
// loopback TCP to the whole live
// path (link, engine, 1,000 Korvane displays, TSL UMD output), and a TSL 5
// receiver on its own thread stamps every datagram as it arrives.
//
// Each figure stands beside its floor: the same route-change bytes written
// and read on a loopback TCP connection, then the same TSL datagrams, a
// display each, sent to a receiver of the same kind, with no host in
// between. A salvo's floor runs in the same iteration as the host's.
//
// Tally the same way: a vision mixer's TSL 5 datagram to the host's tally
// input, through the route into the mixer's input, to the display packets
// of the displays that show that picture (one, and all 1,000), beside the
// floor of the same datagrams with no host between.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_routers.h"
#include "glow_builder.h"
#include "nmos_registry_text.h"
#include "loop_until.h"
#include "loopback_udp.h"
#include "quon/engine/host_engine.h"
#include "quon/routers/emberplus/emberplus_s101.h"
#include "quon/routers/swp08/swp08_protocol.h"
#include "quon/routers/videohub/videohub_protocol.h"
#include "quon/routers/network_routers.h"
#include "quon/live/live_wall.h"
#include "quon/live/wall_check.h"
#include "quon/routers/built_in_routers.h"
#include "quon/screens/tsl5/tsl5_packet.h"

using namespace quon;
namespace asio = boost::asio;
using steady = std::chrono::steady_clock;

namespace {

constexpr int kSize = 1000;
constexpr int kSingleChanges = 10000;
constexpr int kSalvos = 20;

enum class protocol { videohub, swp08, emberplus, quartz, nmos };
const char* protocolName(protocol p) {
    return p == protocol::videohub ? "videohub"
           : p == protocol::swp08  ? "swp08"
           : p == protocol::quartz ? "quartz"
           : p == protocol::nmos   ? "nmos"
                                   : "emberplus";
}

// An Ember+ connection update of the fake provider's matrix (0.1.0): each
// target with its one source, qualified, as one message.
std::string emberplusUpdate(const std::vector<std::pair<int, int>>& routes) {
    const fake::glow_builder b;
    std::vector<std::string> connections;
    for (const auto& [d, s] : routes)
        connections.push_back(b.connection(d - 1, {static_cast<std::uint32_t>(s - 1)}, 1));
    return routers::s101::message(b.root(b.entry(b.qualifiedMatrix({0, 1, 0}, b.connections(connections)))));
}

// A TSL receiver on a thread of its own, so that an arrival is stamped when
// the datagram arrives rather than when the host's loop next looks. The
// stamps sit in a ring that the benchmark reads behind the writer.
class timed_receiver {
public:
    struct arrival {
        steady::time_point at;
        uint16_t index = 0;  // the first display of the packet
    };

    timed_receiver() {
        // A salvo of 1,000 datagrams must not overflow the default buffer
        // while this thread is off the processor; the forced size needs
        // privileges, the plain one is capped by the system.
        const int buffer = 8 << 20;
        if (::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
            ::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        const timeval wake{0, 50 * 1000};
        ::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
        thread_ = std::thread([this] { receive(); });
    }
    ~timed_receiver() {
        stopping_ = true;
        thread_.join();
    }
    timed_receiver(const timed_receiver&) = delete;
    timed_receiver& operator=(const timed_receiver&) = delete;

    uint16_t port() const { return socket_.port(); }
    uint64_t count() const { return count_.load(std::memory_order_acquire); }
    // Display messages in every datagram so far: the datagrams, without
    // `batch`. Counted after the datagram's stamp.
    uint64_t displays() const { return displays_.load(std::memory_order_acquire); }
    // The n-th datagram ever received; valid while fewer than the ring's
    // size arrived since.
    const arrival& at(uint64_t n) const { return ring_[n % ring_.size()]; }

private:
    void receive() {
        std::array<unsigned char, 2048> buffer{};
        while (!stopping_) {
            const ssize_t size = ::recv(socket_.descriptor(), buffer.data(), buffer.size(), 0);
            if (size < 0) continue;
            const auto now = steady::now();
            const uint64_t n = count_.load(std::memory_order_relaxed);
            arrival& slot = ring_[n % ring_.size()];
            slot.at = now;
            slot.index = size >= 8 ? static_cast<uint16_t>(buffer[6] | buffer[7] << 8) : 0xFFFF;
            count_.store(n + 1, std::memory_order_release);
            uint64_t messages = 0;
            for (size_t at = 6; at + 6 <= static_cast<size_t>(size); ++messages)
                at += 6 + static_cast<size_t>(buffer[at + 4] | buffer[at + 5] << 8);
            displays_.fetch_add(messages, std::memory_order_release);
        }
    }

    loopback_udp_socket socket_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> count_{0};
    std::atomic<uint64_t> displays_{0};
    std::array<arrival, 1 << 14> ring_{};
    std::thread thread_;
};

// What the router sends when destination `d` (1-based) takes source `s`.
std::string routeChangeBytes(protocol p, int d, int s) {
    if (p == protocol::videohub)
        return std::string(routers::videohub::routing_header) + "\n" + std::to_string(d - 1) + " " +
               std::to_string(s - 1) + "\n\n";
    if (p == protocol::emberplus) return emberplusUpdate({{d, s}});
    if (p == protocol::quartz) return ".UV" + std::to_string(d) + "," + std::to_string(s) + "\r";
    if (p == protocol::nmos) {
        const std::string label = "Output " + std::to_string(d);
        return test::nmos::grain("/receivers/", test::nmos::json::array({test::nmos::change(
                                                    test::nmos::receiver(d, label, 0), test::nmos::receiver(d, label, s))}));
    }
    const auto bytes = routers::swp08::frame(routers::swp08::tallyMessage({0, 0}, d - 1, s - 1, true));
    return std::string(bytes.begin(), bytes.end());
}

// A salvo as one write: a single routing block, every connected message
// (or Quartz update) back to back, or one Ember+ update of every target (in
// packets).
std::string salvoBytes(protocol p, const std::vector<int>& sources) {
    std::string bytes;
    if (p == protocol::emberplus) {
        std::vector<std::pair<int, int>> routes;
        for (int d = 1; d <= kSize; ++d) routes.emplace_back(d, sources[static_cast<size_t>(d)]);
        return emberplusUpdate(routes);
    }
    if (p == protocol::videohub) {
        bytes = std::string(routers::videohub::routing_header) + "\n";
        for (int d = 1; d <= kSize; ++d)
            bytes += std::to_string(d - 1) + " " + std::to_string(sources[static_cast<size_t>(d)] - 1) + "\n";
        return bytes + "\n";
    }
    for (int d = 1; d <= kSize; ++d) bytes += routeChangeBytes(p, d, sources[static_cast<size_t>(d)]);
    return bytes;
}

// Short enough for SW-P-08's 8-character names, so that every source shows
// as itself.
std::string sourceName(int source) { return "IN " + std::to_string(source); }

// A facility's tally: 4 studio mixers of 20 cameras (studio k's inputs
// are sources 20(k-1)+1 to 20k, input 1 in program), each studio's program
// coming back as source 900+k, routed to destination 990+k, the master
// mixer's input k; the master is where on air ends. Each of the 1,000
// destinations is shown by two displays.
constexpr int kStudios = 4, kCameras = 20;

fake::router_state routerState(bool facility = false) {
    fake::router_state state = fake::numberedState(kSize, kSize);
    for (int s = 1; s <= kSize; ++s) state.inputLabels[static_cast<size_t>(s - 1)] = sourceName(s);
    if (facility)
        for (int k = 1; k <= kStudios; ++k) state.routes[static_cast<size_t>(990 + k - 1)] = 900 + k;
    return state;
}

std::string facilityTally() {
    std::string text;
    for (int k = 1; k <= kStudios; ++k)
        text += "\n[[tally_in]]\nname = \"studio" + std::to_string(k) + "\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
                "[[tally_in.map]]\nindex = 1\ncount = " + std::to_string(kCameras) + "\nmatrix = 1\nsource = " +
                std::to_string((k - 1) * kCameras + 1) + "\n[[tally_in.output]]\nmatrix = 1\nsource = " +
                std::to_string(900 + k) + "\n";
    text += "\n[[tally_in]]\nname = \"master\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n[[tally_in.map]]\nindex = 1\ncount = " +
            std::to_string(kStudios) + "\nmatrix = 1\ndestination = 991\n\n[[on_air]]\nmixer = \"master\"\n";
    return text;
}

// The numbering of an NMOS registry's senders and receivers, by label.
std::string nmosLists() {
    std::string senders = "Senders=", receivers = "Receivers=";
    for (int n = 1; n <= kSize; ++n) {
        senders += (n > 1 ? "," : "") + sourceName(n);
        receivers += (n > 1 ? ",Output " : "Output ") + std::to_string(n);
    }
    return senders + "\n" + receivers + "\n";
}

// Sorted samples in microseconds, reported as counters.
void report(benchmark::State& state, const std::string& prefix, std::vector<double> samples) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double q) { return samples[static_cast<size_t>(q * static_cast<double>(samples.size() - 1))]; };
    state.counters[prefix + "p50_us"] = rank(0.5);
    state.counters[prefix + "p99_us"] = rank(0.99);
    state.counters[prefix + "max_us"] = samples.back();
}

double microseconds(steady::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// The whole live path on one loop, as serve runs it: a system folder whose
// router is the fake router, a wall file of 1,000 displays sent to the
// receiver, routers started before the wall.
class live_host {
public:
    // `tally`: a tally input whose index 1 stands for destination kSize
    // (a mixer input fed by the router) and index 2 for source 1.
    // `facility`: the facility's mixers instead (facilityTally), and two
    // displays a destination.
    live_host(protocol p, uint16_t receiverPort, bool batch = false, bool tally = false, bool facility = false)
        : router_(p == protocol::videohub ? fake::makeFakeVideohub(loop_, routerState(facility))
                  : p == protocol::swp08  ? fake::makeFakeSwp08(loop_, routerState())
                  : p == protocol::quartz ? fake::makeFakeQuartz(loop_, routerState())
                  : p == protocol::nmos   ? fake::makeFakeNmos(loop_, routerState())
                                          : fake::makeFakeEmberplus(loop_, routerState())),
          root_("/tmp/quon-wire-" + std::to_string(getpid())) {
        if (p == protocol::nmos) static_cast<fake::fake_nmos_registry&>(*router_).sendChangesAtOnce();
        const std::string folder = systemFolder(root_, "wire");
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/dev_001.ini") << "[Router]\nProtocol=" << protocolName(p)
                                               << "\nAddress=127.0.0.1:" << router_->port() << "\n"
                                               << (p == protocol::nmos ? nmosLists() : "")
                                               << "[Database]\nDatabaseSize_0=" << kSize
                                               << "\nDatabaseSize_1=" << kSize << "\n";
        std::ofstream instances(folder + "/instances.ini");
        std::ofstream wallFile(root_ + "/wall.toml");
        instances << "[Instances]\n";
        wallFile << "[umd]\nto = \"tsl5+udp://127.0.0.1:" << receiverPort << "\"\nrefresh = \"0s\"\nbatch = "
                 << (batch ? "true" : "false") << "\n";
        displayCount_ = facility ? 2 * kSize : kSize;
        for (int d = 1; d <= displayCount_; ++d) {
            instances << "d" << d << "=1 " << (d - 1) % kSize + 1 << "\n";
            wallFile << "\n[[display]]\nname = \"d" << d << "\"\ninstance = \"d" << d << "\"\numd = { index = " << d - 1
                     << " }\n";
        }
        if (tally)
            wallFile << "\n[[tally_in]]\nname = \"mixer\"\nlisten = \"tsl5+udp://127.0.0.1:0\"\n"
                     << "[[tally_in.map]]\nindex = 1\nmatrix = 1\ndestination = " << kSize << "\n"
                     << "[[tally_in.map]]\nindex = 2\nmatrix = 1\nsource = 1\n";
        if (facility) wallFile << facilityTally();
        instances.close();
        wallFile.close();
        setenv("VX_ROOT", root_.c_str(), 1);
        setenv("VX_SYSTEM", "wire", 1);

        routers_ = builtInRouters();
        addNetworkRouters(routers_, loop_);
        system_ = readSystem(folder);
        engine_ = std::make_unique<host_engine>(system_, routers_);
        engine_->addListener(&displays_);
        wall_ = std::make_unique<live_wall>(
            loop_, *engine_, displays_, KORVANE_MODULE_PATH, QUON_EXAMPLES_DIR "/panels",
            [this](const wall& w, std::vector<std::string>& errors) {
                checkWall(w, system_, engine_->routers(), KORVANE_MODULE_PATH, errors);
            },
            [this](const std::string& w) { warning_ = w; });
        // The tally input's lines (where it listens, up and down) are no warnings.
        wall_->watchInputs(nullptr, [](const std::string&) {});
        engine_->routers().start();
        std::vector<std::string> errors;
        if (!wall_->start(root_ + "/wall.toml", errors)) warning_ = errors.empty() ? "wall" : errors.front();
        sources_.assign(kSize + 1, 0);
        for (int d = 1; d <= kSize; ++d) sources_[static_cast<size_t>(d)] = router_->state().routes[d - 1];
    }
    ~live_host() {
        engine_->components().destroyAll();
        engine_->routers().stop();
        wall_->stop();
        wall_.reset();
        engine_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::string& warning() const { return warning_; }
    bool shows(int d, int source) const {
        return engine_->components().property("d" + std::to_string(d), "1", "myMimic", "text") == sourceName(source);
    }
    asio::io_context& loop() { return loop_; }
    // The port a tally input listens on (the first, or the one named); 0
    // without one.
    uint16_t tallyPort(const std::string& name = "") const {
        for (const auto& input : wall_->inputs())
            if (name.empty() || input.name == name) {
                const std::string& listen = input.listen;
                return static_cast<uint16_t>(std::stoi(listen.substr(listen.rfind(':') + 1)));
            }
        return 0;
    }
    int displayCount() const { return displayCount_; }
    int& source(int d) { return sources_[static_cast<size_t>(d)]; }
    std::vector<int>& sources() { return sources_; }
    fake::fake_router& router() { return *router_; }

private:
    asio::io_context loop_;
    std::unique_ptr<fake::fake_router> router_;
    std::string root_;
    router_registry routers_;
    system_description system_;
    display_model displays_;  // outlives the engine and the wall
    std::unique_ptr<host_engine> engine_;
    std::unique_ptr<live_wall> wall_;
    std::vector<int> sources_;
    std::string warning_;
    int displayCount_ = kSize;
};

int nextSource(int current) { return current % kSize + 1; }

// Whether every display showed its first source on the screen.
bool cameUp(benchmark::State& state, live_host& host, const timed_receiver& receiver) {
    if (!host.warning().empty()) {
        state.SkipWithError(host.warning().c_str());
        return false;
    }
    if (!bench::runUntil(host.loop(), [&] { return receiver.displays() >= static_cast<uint64_t>(host.displayCount()); })) {
        state.SkipWithError("the displays did not come up");
        return false;
    }
    return true;
}

// Waits for the receiver's n-th datagram, spinning: the receiver thread
// stamps it, so how soon this sees it does not change the figure.
bool awaitArrival(const timed_receiver& receiver, uint64_t n) {
    const auto guard = steady::now() + std::chrono::seconds(5);
    while (receiver.count() <= n)
        if (steady::now() > guard) return false;
    return true;
}

void wireLatencySingle(benchmark::State& state) {
    const auto p = static_cast<protocol>(state.range(0));
    timed_receiver receiver;
    live_host host(p, receiver.port());
    if (!cameUp(state, host, receiver)) return;

    std::vector<double> samples;
    samples.reserve(kSingleChanges);
    for (auto _ : state) {
        for (int i = 0; i < kSingleChanges; ++i) {
            const int d = i % kSize + 1;
            const int s = nextSource(host.source(d));
            host.source(d) = s;
            const uint64_t n = receiver.count();
            const auto sent = steady::now();
            host.router().route(d, s);
            if (!bench::runUntil(host.loop(), [&] { return receiver.count() > n; }))
                return state.SkipWithError("a route change never reached the receiver");
            const auto& arrived = receiver.at(n);
            if (arrived.index != d - 1) return state.SkipWithError("a datagram for another display arrived");
            samples.push_back(microseconds(arrived.at - sent));
        }
    }
    report(state, "", samples);
    state.SetLabel(protocolName(p));
}

// The floor: a loopback TCP connection standing for the router's, and the
// same UDP receiver.
struct floor_path {
    asio::io_context io;
    asio::ip::tcp::socket routerSide{io};
    asio::ip::tcp::socket hostSide{io};
    asio::ip::udp::socket sender{io, asio::ip::udp::v4()};
    asio::ip::udp::endpoint receiver;

    explicit floor_path(uint16_t receiverPort) : receiver(asio::ip::make_address("127.0.0.1"), receiverPort) {
        asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
        hostSide.connect(acceptor.local_endpoint());
        acceptor.accept(routerSide);
        routerSide.set_option(asio::ip::tcp::no_delay(true));
        hostSide.set_option(asio::ip::tcp::no_delay(true));
    }
    void pass(const std::string& bytes, std::string& buffer) {
        asio::write(routerSide, asio::buffer(bytes));
        buffer.resize(bytes.size());
        asio::read(hostSide, asio::buffer(buffer));
    }
};

std::string datagramFor(int d, int s) {
    return tsl5Packet(0, static_cast<uint16_t>(d - 1), tally_lamps{}, tsl5Text(sourceName(s)));
}

void wireLatencySingleFloor(benchmark::State& state) {
    const auto p = static_cast<protocol>(state.range(0));
    timed_receiver receiver;
    floor_path path(receiver.port());
    std::vector<double> samples;
    samples.reserve(kSingleChanges);
    std::string buffer;
    for (auto _ : state) {
        for (int i = 0; i < kSingleChanges; ++i) {
            const int d = i % kSize + 1;
            const std::string bytes = routeChangeBytes(p, d, i % kSize + 1);
            const std::string datagram = datagramFor(d, i % kSize + 1);
            const uint64_t n = receiver.count();
            const auto sent = steady::now();
            path.pass(bytes, buffer);
            path.sender.send_to(asio::buffer(datagram), path.receiver);
            if (!awaitArrival(receiver, n)) return state.SkipWithError("a datagram was lost on loopback");
            samples.push_back(microseconds(receiver.at(n).at - sent));
        }
    }
    report(state, "", samples);
    state.SetLabel(std::string(protocolName(p)) + " floor");
}

// One salvo of the floor: the router's bytes through the loopback
// connection, then a datagram for each display, one sendto each; the time
// to the last datagram's arrival, or a negative one when it never came.
double floorSalvo(protocol p, floor_path& path, const timed_receiver& receiver, int round) {
    std::vector<int> sources(kSize + 1);
    std::vector<std::string> datagrams;
    for (int d = 1; d <= kSize; ++d) {
        sources[static_cast<size_t>(d)] = (d + round) % kSize + 1;
        datagrams.push_back(datagramFor(d, sources[static_cast<size_t>(d)]));
    }
    const std::string bytes = salvoBytes(p, sources);
    std::string buffer;
    const uint64_t first = receiver.count();
    const auto sent = steady::now();
    path.pass(bytes, buffer);
    for (const std::string& datagram : datagrams) path.sender.send_to(asio::buffer(datagram), path.receiver);
    if (!awaitArrival(receiver, first + kSize - 1)) return -1;
    return microseconds(receiver.at(first + kSize - 1).at - sent);
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

// A salvo through the whole host, a display a datagram or with `batch`,
// each beside a salvo of the floor in the same iteration, so that both see
// the same machine. The label compares the medians with the target: with
// batch, half the floor; without, within 5 % of it.
void wireLatencySalvo(benchmark::State& state) {
    const auto p = static_cast<protocol>(state.range(0));
    const bool batch = state.range(1) != 0;
    timed_receiver receiver;
    live_host host(p, receiver.port(), batch);
    if (!cameUp(state, host, receiver)) return;
    timed_receiver floorReceiver;
    floor_path path(floorReceiver.port());

    std::vector<double> samples;
    std::vector<double> floorSamples;
    int round = 0;
    for (auto _ : state) {
        for (int d = 1; d <= kSize; ++d) host.source(d) = nextSource(host.source(d));
        const std::string bytes = salvoBytes(p, host.sources());
        const uint64_t first = receiver.displays();
        const auto sent = steady::now();
        host.router().sendGarbage(bytes);
        if (!bench::runUntil(host.loop(), [&] { return receiver.displays() >= first + kSize; }))
            return state.SkipWithError("displays of the salvo were lost");
        samples.push_back(microseconds(receiver.at(receiver.count() - 1).at - sent));
        if (!host.shows(kSize, host.source(kSize))) return state.SkipWithError("the last display shows another source");
        const double floor = floorSalvo(p, path, floorReceiver, ++round);
        if (floor < 0) return state.SkipWithError("datagrams of the floor were lost on loopback");
        floorSamples.push_back(floor);
    }
    const double ratio = median(samples) / median(floorSamples);
    const double target = batch ? 0.5 : 1.05;
    report(state, "", samples);
    report(state, "floor_", floorSamples);
    state.counters["ratio"] = ratio;
    char label[160];
    std::snprintf(label, sizeof label, "%s%s: p50 %.2f x floor, target %.2f: %s", protocolName(p),
                  batch ? " batch" : "", ratio, target, ratio <= target ? "met" : "MISSED");
    state.SetLabel(label);
}

// A mixer's datagram: index `index` in program (left red) or off.
std::string mixerDatagram(uint16_t index, bool program) {
    const tally_lamps lamps{program ? lamp_colour::red : lamp_colour::off, lamp_colour::off, lamp_colour::off, 3};
    return tsl5Packet(0, index, lamps, tsl5Text(""));
}

// From the mixer's datagram to the last display packet it causes: `all`
// lights the 1,000 displays (every destination routed source 1, index 2),
// else the one display showing destination kSize's picture (index 1, a
// mixer input fed through a route). Beside it the floor: the mixer's
// datagram read on a loopback socket, then the same number of display
// datagrams sent, one sendto each.
void tallyLatency(benchmark::State& state) {
    const bool all = state.range(0) != 0;
    const int displays = all ? kSize : 1;
    timed_receiver receiver;
    live_host host(protocol::videohub, receiver.port(), false, true);
    if (!cameUp(state, host, receiver)) return;
    if (all) {
        for (int d = 1; d <= kSize; ++d) host.source(d) = 1;
        const uint64_t first = receiver.displays();
        host.router().sendGarbage(salvoBytes(protocol::videohub, host.sources()));
        // Display 1 shows source 1 already.
        if (!bench::runUntil(host.loop(), [&] { return receiver.displays() >= first + kSize - 1; }))
            return state.SkipWithError("the salvo to source 1 did not come");
    }
    asio::io_context io;
    asio::ip::udp::socket mixer(io, asio::ip::udp::v4());
    const asio::ip::udp::endpoint input(asio::ip::make_address("127.0.0.1"), host.tallyPort());
    timed_receiver floorReceiver;
    loopback_udp_socket floorInput;
    asio::ip::udp::socket floorSender(io, asio::ip::udp::v4());
    const asio::ip::udp::endpoint floorInputAt(asio::ip::make_address("127.0.0.1"), floorInput.port());
    const asio::ip::udp::endpoint floorScreen(asio::ip::make_address("127.0.0.1"), floorReceiver.port());
    std::vector<std::string> floorDatagrams;
    for (int d = 1; d <= displays; ++d) floorDatagrams.push_back(datagramFor(d, d));

    std::vector<double> samples, floorSamples;
    bool program = false;
    for (auto _ : state) {
        program = !program;
        const std::string datagram = mixerDatagram(all ? 2 : 1, program);
        const uint64_t first = receiver.displays();
        const auto sent = steady::now();
        mixer.send_to(asio::buffer(datagram), input);
        if (!bench::runUntil(host.loop(), [&] { return receiver.displays() >= first + static_cast<uint64_t>(displays); }))
            return state.SkipWithError("the tally change did not reach every display");
        samples.push_back(microseconds(receiver.at(receiver.count() - 1).at - sent));

        const uint64_t floorFirst = floorReceiver.count();
        std::array<char, 2048> buffer{};
        const auto floorSent = steady::now();
        floorSender.send_to(asio::buffer(datagram), floorInputAt);
        if (::recv(floorInput.descriptor(), buffer.data(), buffer.size(), 0) < 0)
            return state.SkipWithError("the floor's mixer datagram was lost");
        for (const std::string& d : floorDatagrams) floorSender.send_to(asio::buffer(d), floorScreen);
        if (!awaitArrival(floorReceiver, floorFirst + static_cast<uint64_t>(displays) - 1))
            return state.SkipWithError("datagrams of the floor were lost on loopback");
        floorSamples.push_back(microseconds(floorReceiver.at(floorFirst + static_cast<uint64_t>(displays) - 1).at - floorSent));
    }
    report(state, "", samples);
    report(state, "floor_", floorSamples);
    state.SetLabel(all ? "1,000 displays" : "one display");
}

// A TSL 5 packet of several display messages, each an index and whether
// it is in program.
std::string mixerPacket(const std::vector<std::pair<uint16_t, bool>>& indices) {
    std::string messages;
    for (const auto& [index, program] : indices) messages += mixerDatagram(index, program).substr(6);
    std::string packet = mixerDatagram(0, false).substr(0, 6);
    const size_t count = 4 + messages.size();  // after the byte count: VER, FLAGS, SCREEN, the messages
    packet[0] = static_cast<char>(count & 0xFF);
    packet[1] = static_cast<char>(count >> 8);
    return packet + messages;
}

// A cut on the master mixer of the facility (facilityTally): from studio 1
// to studio 2 and back. Each takes one studio off air and puts the other
// on: its camera in program (two displays), the displays of its program
// (source 900+k) and of the master's input it feeds (destination 990+k),
// two each: twelve of the 2,000 displays. From the master's datagram to
// the last of them.
void tallyCascadeLatency(benchmark::State& state) {
    timed_receiver receiver;
    live_host host(protocol::videohub, receiver.port(), false, false, true);
    if (!cameUp(state, host, receiver)) return;
    asio::io_context io;
    asio::ip::udp::socket mixer(io, asio::ip::udp::v4());
    const auto to = [&](const std::string& name) {
        return asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), host.tallyPort(name));
    };
    const auto await = [&](uint64_t from, uint64_t count) {
        return bench::runUntil(host.loop(), [&] { return receiver.displays() >= from + count; });
    };
    uint64_t before = receiver.displays();
    for (int k = 1; k <= kStudios; ++k) mixer.send_to(asio::buffer(mixerPacket({{1, true}})), to("studio" + std::to_string(k)));
    // Each studio's camera is hot on its two displays.
    if (!await(before, 2 * kStudios)) return state.SkipWithError("the studios' tally did not reach the displays");
    const auto master = to("master");
    before = receiver.displays();
    mixer.send_to(asio::buffer(mixerPacket({{1, true}})), master);
    if (!await(before, 6)) return state.SkipWithError("studio 1 did not go on air");
    constexpr uint64_t changed = 12;
    std::vector<double> samples;
    bool second = true;
    for (auto _ : state) {
        const std::string cut = mixerPacket({{1, !second}, {2, second}});
        second = !second;
        const uint64_t start = receiver.displays();
        const auto sent = steady::now();
        mixer.send_to(asio::buffer(cut), master);
        if (!await(start, changed)) return state.SkipWithError("the cut did not reach its displays");
        samples.push_back(microseconds(receiver.at(receiver.count() - 1).at - sent));
    }
    report(state, "", samples);
    state.SetLabel("4 studios of 20 cameras, 2,000 displays: a cut on the master, 12 displays");
}

// One iteration holds every sample: the figures are the counters.
#define QUON_WIRE_BENCHMARK(name, iterations)                                                                   \
    BENCHMARK(name)                                                                                            \
        ->Arg(static_cast<int>(protocol::videohub))                                                            \
        ->Arg(static_cast<int>(protocol::swp08))                                                               \
        ->Arg(static_cast<int>(protocol::emberplus))                                                           \
        ->Arg(static_cast<int>(protocol::quartz))                                                              \
        ->Arg(static_cast<int>(protocol::nmos))                                                                \
        ->Iterations(iterations)                                                                               \
        ->Unit(benchmark::kMillisecond)                                                                        \
        ->UseRealTime()

QUON_WIRE_BENCHMARK(wireLatencySingle, 1);
QUON_WIRE_BENCHMARK(wireLatencySingleFloor, 1);
BENCHMARK(tallyLatency)->Arg(0)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(tallyLatency)->Arg(1)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tallyCascadeLatency)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(wireLatencySalvo)
    ->ArgsProduct({{static_cast<int>(protocol::videohub), static_cast<int>(protocol::swp08),
                    static_cast<int>(protocol::quartz)},
                   {0, 1}})
    ->Iterations(kSalvos)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
