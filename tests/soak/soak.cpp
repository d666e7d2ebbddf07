// soak: quon-host serve under a facility's faults, then a check that it
// converged.
//
//   soak --seconds N [--seed N] [--host-preload LIBRARY] [--heap-log FILE] [--no-trace]
//
// --no-trace runs the host without its trace, as a facility does: contract
// violations are then read from its /metrics, and
// whether each component ended with "AS" (which only the trace shows) is
// not checked. The CPU the host spends per change is reported either way.
//
// --host-preload runs the host with LIBRARY in LD_PRELOAD: the test of the
// memory verdict makes the host leak that way. --heap-log writes every heap
// figure the host reported, a line each: seconds since the changes began,
// bytes.
//
// Three fake routers of 1,000 destinations (a Videohub, an SW-P-08 router
// and an Ember+ provider)
// and three TSL receivers (TSL 5 over UDP and TCP, TSL 3.1 over UDP) run in
// this process on loopback; the real quon-host serve runs as a child with a
// wall of 2,000 displays, each sent to one receiver. For N seconds the
// routers take about 1,000 route and label changes a second, and faults come
// at random moments: a router's connections dropped, a router silent for a
// while, a router restarted with other routes and labels, the TSL TCP
// receiver closing its connection or not reading, the wall file rewritten
// and the host sent SIGHUP, a router's link stalled or reset by RST. Every
// router and screen is reached through a fault relay (fault_relay.h): TCP
// cut into pieces down to a byte and delayed, datagrams lost, doubled and
// reordered. Every packet a screen receives is judged as it comes: its text
// must have been the name of a source routed to its display's destination at
// some moment of the run. Then the changes stop, the host is given time to
// settle, and the run checks that every display shows the name of the source
// its router routes to its destination, that the host reported no contract
// violation, that its heap in use did not grow after warm-up, and that
// SIGTERM ends every component with "AS" and the host with exit code 0.
//
// SW-P-08 routers do not push name changes; the host reads their names when
// it connects and at each resync. So that what a display may show is known
// at every moment, an SW-P-08 label change is held back and applied to the
// router just before one of its faults that makes the host connect again (a
// drop or a restart): the names expected of an SW-P-08 display are then
// always the names the router had at the host's last connection.
//
// Every random choice (what changes, which fault, when) comes from the
// seed; the moments the host acts between them follow the machine.
//
// What a TSL 5 screen reads of a packet is soak_screens.h; the figures the
// run reports and judges by (the heap's trend among them) soak_figures.h.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include "fake_routers.h"
#include "fault_relay.h"
#include "soak_figures.h"
#include "soak_screens.h"

namespace {

using namespace quon::test;
namespace asio = boost::asio;
namespace fs = std::filesystem;
using asio::ip::tcp;
using asio::ip::udp;
using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

const int destinations_per_router = 1000;
const int sources_per_router = 1000;
const int initial_displays = 2000;
const int tsl31_displays = 100;   // TSL 3.1 addresses run 0 to 126
const int changes_per_tick = 10;  // every 10 ms: about 1,000 a second
const milliseconds tick(10);
// Korvane polls a router that has not answered every 10 s; a display made
// while its router was away waits for that, and a TCP receiver's reconnect
// waits at most 10 s.
const milliseconds least_settling(12000);
const milliseconds longest_settling(60000);
// Memory is judged from the end of the warm-up, by when every kind of fault
// has come at least once (they come in shuffled rounds of six, at most 2.5 s
// apart), and only in runs at least twice as long. The host reports its heap
// in use on SIGUSR1, once a second; the verdict is the trend of those
// samples (heapTrend). Resident memory (VmRSS) is only reported: it follows
// what is queued at the moment and what the allocator keeps mapped, and so
// moves by a megabyte from one second to the next without a leak.
const std::chrono::seconds warm_up(30);
const double heap_growth_allowed = 16384;  // bytes a second

using quon::fake::router_state;

enum class router_kind { videohub, swp08, emberplus };
constexpr int router_count = 3;  // devices 1, 2 and 3, of these kinds in this order
enum class receiver_kind { tsl5_udp, tsl5_tcp, tsl31_udp };

enum fault_kind {
    drop,
    silence,
    restart,
    receiver_close,
    receiver_stall,
    reload,
    link_stall,
    link_reset,
    fault_kinds
};
const char* const fault_names[fault_kinds] = {"router connections dropped",
                                              "router silent",
                                              "router restarted with other routes and labels",
                                              "TSL TCP receiver closed its connection",
                                              "TSL TCP receiver stopped reading",
                                              "wall file rewritten, SIGHUP",
                                              "a router's link stalled 3 s, open",
                                              "a link reset by RST"};
// How long after a router's fault a change to it is not counted as made
// while its link was up.
const milliseconds disturbance(3000);
// The device files' Resync: a router that lost changes is read again within it.
const milliseconds resync(5000);

struct display {
    std::string name;
    int router = 1;  // device number: 1 the Videohub, 2 the SW-P-08 router, 3 the Ember+ provider
    int destination = 1;
    receiver_kind receiver = receiver_kind::tsl5_udp;
    int index = 0;
};

// What a receiver last showed for each index.
using shown_texts = std::map<int, std::string>;

std::string rtrimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

struct soak_options {
    int seconds = 0;
    std::uint64_t seed = 0;
    std::string hostPreload;  // empty: none
    std::string heapLog;      // empty: none
    bool traced = true;
};

class soak {
public:
    explicit soak(const soak_options& options)
        : seconds_(options.seconds),
          seed_(options.seed),
          hostPreload_(options.hostPreload),
          heapLog_(options.heapLog),
          traced_(options.traced),
          random_(options.seed),
          changeTimer_(io_),
          faultTimer_(io_),
          phaseTimer_(io_),
          memoryTimer_(io_),
          udp5_(io_, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          udp31_(io_, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
          tcpAcceptor_(io_),
          hostOutput_(io_) {
        videohub_ = quon::fake::makeFakeVideohub(io_, routerState(router_kind::videohub, 0));
        swp08_ = quon::fake::makeFakeSwp08(io_, routerState(router_kind::swp08, 0));
        emberplus_ = quon::fake::makeFakeEmberplus(io_, routerState(router_kind::emberplus, 0));
        for (udp::socket* s : {&udp5_, &udp31_}) s->set_option(asio::socket_base::receive_buffer_size(8 << 20));
        const tcp::endpoint loopback(asio::ip::make_address("127.0.0.1"), 0);
        tcpAcceptor_.open(loopback.protocol());
        // A small window, so that a receiver that stops reading soon
        // pushes back on the host.
        tcpAcceptor_.set_option(asio::socket_base::receive_buffer_size(8192));
        tcpAcceptor_.bind(loopback);
        tcpAcceptor_.listen();
        // Each relay draws from a seed of its own, made from the run's.
        std::uint64_t relaySeed = seed_;
        const auto nextSeed = [&relaySeed] { return relaySeed = relaySeed * 6364136223846793005ull + 1442695040888963407ull; };
        for (int device = 1; device <= router_count; ++device) {
            routerLinks_[device - 1] = std::make_unique<quon::fake::tcp_fault_relay>(
                io_, tcp::endpoint(loopback.address(), router(device).port()), nextSeed());
            truth_[device - 1].resize(static_cast<std::size_t>(destinations_per_router) + 1);
            for (int d = 1; d <= destinations_per_router; ++d) noteTrue(device, d);
        }
        screenLink_ = std::make_unique<quon::fake::tcp_fault_relay>(io_, tcpAcceptor_.local_endpoint(), nextSeed());
        udp5Link_ = std::make_unique<quon::fake::udp_fault_relay>(io_, udp5_.local_endpoint(), nextSeed());
        udp31Link_ = std::make_unique<quon::fake::udp_fault_relay>(io_, udp31_.local_endpoint(), nextSeed());
    }

    int run() {
        std::printf("soak: seed %llu, %d s of changes and faults\n", static_cast<unsigned long long>(seed_), seconds_);
        std::fflush(stdout);
        char pattern[] = "/tmp/quon-soak-XXXXXX";
        if (!mkdtemp(pattern)) return fail("cannot make a temporary folder");
        root_ = pattern;
        writeSystem();
        for (int i = 0; i < initial_displays; ++i) addDisplay(i < tsl31_displays);
        writeWall();
        if (!heapLog_.empty() && !(samplesFile_ = std::fopen(heapLog_.c_str(), "w")))
            return fail("cannot write " + heapLog_ + ": " + std::strerror(errno));
        if (!startHost()) return fail("cannot start quon-host");
        receiveUdp5();
        receiveUdp31();
        acceptTcp();
        readHost();
        sampleMemory();
        waitForFirstConvergence();
        io_.run();
        const int code = finish();
        if (samplesFile_) std::fclose(samplesFile_);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        return code;
    }

private:
    // Routes and labels of a router at one of its lives: generation 0 at
    // the start, one more at every restart.
    router_state routerState(router_kind kind, int generation) {
        router_state state = quon::fake::numberedState(sources_per_router, destinations_per_router);
        for (int s = 1; s <= sources_per_router; ++s) state.inputLabels[s - 1] = label(kind, s, generation);
        if (generation > 0)
            for (int& source : state.routes) source = sourceDraw();
        return state;
    }

    // SW-P-08 names are 8 characters here ("S1000.99"); TSL 3.1 shows 16
    // ("CAM 1000.999").
    static std::string label(router_kind kind, int source, int version) {
        if (kind == router_kind::swp08) return "S" + std::to_string(source) + "." + std::to_string(version % 100);
        return "CAM " + std::to_string(source) + "." + std::to_string(version % 1000);
    }

    int sourceDraw() { return std::uniform_int_distribution<int>(1, sources_per_router)(random_); }
    int destinationDraw() { return std::uniform_int_distribution<int>(1, destinations_per_router)(random_); }
    double uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }
    milliseconds between(int lowMs, int highMs) {
        return milliseconds(std::uniform_int_distribution<int>(lowMs, highMs)(random_));
    }

    quon::fake::fake_router& router(int device) {
        return device == 1 ? *videohub_ : device == 2 ? *swp08_ : *emberplus_;
    }
    static router_kind kindOf(int device) { return static_cast<router_kind>(device - 1); }
    int deviceDraw() { return std::uniform_int_distribution<int>(1, router_count)(random_); }

    void writeSystem() {
        const std::string folder = root_ + "/vx/main/config/system";
        fs::create_directories(folder);
        const auto device = [&](int number, const char* protocol, std::uint16_t port) {
            std::ofstream(folder + "/dev_00" + std::to_string(number) + ".ini")
                << "[Router]\nName=" << protocol << "\nProtocol=" << protocol << "\nAddress=127.0.0.1:" << port
                << "\nConnectTimeout=2000\nRetryFirst=200\nRetryCap=2000\nResync=" << resync.count() << "\n"
                << "[Database]\nDatabaseSize_0=" << sources_per_router << "\nDatabaseSize_1=" << destinations_per_router
                << "\n";
        };
        device(1, "videohub", routerLinks_[0]->port());
        device(2, "swp08", routerLinks_[1]->port());
        device(3, "emberplus", routerLinks_[2]->port());
        std::ofstream(folder + "/instances.ini") << "[Instances]\n";
    }

    void addDisplay(bool onTsl31) {
        display d;
        d.name = "d" + std::to_string(nextDisplay_++);
        d.router = deviceDraw();
        d.destination = destinationDraw();
        if (onTsl31) {
            d.receiver = receiver_kind::tsl31_udp;
            d.index = nextTsl31Index_++;
        } else {
            // Indexes are never used twice, so that a removed display's
            // last packet cannot pass for a new display's.
            d.receiver = std::bernoulli_distribution(0.5)(random_) ? receiver_kind::tsl5_udp : receiver_kind::tsl5_tcp;
            d.index = nextTsl5Index_++;
        }
        everShown_[screenKey(d.receiver, d.index)] = d;
        wall_.push_back(d);
    }

    std::string receiverUrl(receiver_kind kind) const {
        switch (kind) {
            case receiver_kind::tsl5_udp: return "tsl5+udp://127.0.0.1:" + std::to_string(udp5Link_->port());
            case receiver_kind::tsl5_tcp: return "tsl5+tcp://127.0.0.1:" + std::to_string(screenLink_->port());
            case receiver_kind::tsl31_udp: return "tsl31+udp://127.0.0.1:" + std::to_string(udp31Link_->port());
        }
        return {};
    }

    // Written whole beside the wall file and renamed over it, so that the
    // host never reads half a file.
    void writeWall() {
        std::ostringstream text;
        // The default refresh, as a facility runs it.
        text << "[umd]\nto = \"" << receiverUrl(receiver_kind::tsl5_udp) << "\"\n";
        for (const display& d : wall_) {
            text << "\n[[display]]\nname = \"" << d.name << "\"\nmatrix = " << d.router
                 << "\ndestination = " << d.destination << "\numd = { index = " << d.index;
            if (d.receiver != receiver_kind::tsl5_udp) text << ", to = \"" << receiverUrl(d.receiver) << "\"";
            text << " }\n";
        }
        const std::string path = root_ + "/wall.toml";
        std::ofstream(path + ".new") << text.str();
        fs::rename(path + ".new", path);
        watchers_.clear();
        for (const display& d : wall_) watchers_[{d.router, d.destination}].push_back(screenKey(d.receiver, d.index));
    }

    bool startHost() {
        int output[2];
        if (pipe(output) != 0) return false;
        const std::string errors = root_ + "/host-errors.txt";
        forkedAt_ = clock_type::now();
        host_ = fork();
        if (host_ < 0) return false;
        if (host_ == 0) {
            // A soak stopped by hand must not leave its host running.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(output[1], STDOUT_FILENO);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, STDERR_FILENO);
            close(output[0]);
            close(output[1]);
            setenv("VX_ROOT", (root_ + "/vx").c_str(), 1);
            setenv("VX_SYSTEM", "main", 1);
            if (!hostPreload_.empty()) setenv("LD_PRELOAD", hostPreload_.c_str(), 1);
            const std::string wall = root_ + "/wall.toml";
            if (traced_)
                execl(QUON_HOST_PATH, QUON_HOST_PATH, "serve", wall.c_str(), "--trace=json", static_cast<char*>(nullptr));
            else
                execl(QUON_HOST_PATH, QUON_HOST_PATH, "serve", wall.c_str(), "--quiet", "--http", "127.0.0.1:0",
                      static_cast<char*>(nullptr));
            _exit(127);
        }
        close(output[1]);
        // Room for a burst of trace, so that the host does not wait on this
        // process while it is busy elsewhere.
        fcntl(output[0], F_SETPIPE_SZ, 1 << 20);
        hostOutput_.assign(output[0]);
        hostErrorsPath_ = errors;
        return true;
    }

    // --- the host's output: display and violation lines, the trace ---

    void readHost() {
        hostOutput_.async_read_some(
            asio::buffer(hostBuffer_), [this](const boost::system::error_code& error, std::size_t size) {
                if (error) {
                    hostOutputEnded_ = true;
                    if (stopping_) io_.stop();
                    return;
                }
                hostPending_.append(hostBuffer_.data(), size);
                std::size_t start = 0;
                for (std::size_t end; (end = hostPending_.find('\n', start)) != std::string::npos; start = end + 1)
                    hostLine(std::string_view(hostPending_).substr(start, end - start));
                hostPending_.erase(0, start);
                readHost();
            });
    }

    static std::optional<std::string_view> field(std::string_view line, std::string_view name) {
        const std::string key = "\"" + std::string(name) + "\":\"";
        const std::size_t at = line.find(key);
        if (at == std::string_view::npos) return std::nullopt;
        const std::size_t from = at + key.size();
        const std::size_t to = line.find('"', from);
        if (to == std::string_view::npos) return std::nullopt;
        return line.substr(from, to - from);
    }

    void hostLine(std::string_view line) {
        ++hostLines_;
        if (!traced_) {
            // Quiet and untraced, the host prints its memory when asked;
            // breaches of the contract are counted from /metrics.
            // After the line's time stamp.
            const std::size_t at = line.find("memory: ");
            unsigned long long bytes = 0;
            double seconds = 0;
            if (at != std::string_view::npos &&
                std::sscanf(std::string(line.substr(at)).c_str(), "memory: %llu bytes of heap in use at %lf s", &bytes,
                            &seconds) == 2)
                heapSample(static_cast<double>(bytes), seconds);
            return;
        }
        if (line.rfind("{\"kind\":\"violation\"", 0) == 0) {
            if (violations_.size() < 20) violations_.emplace_back(line);
            ++violationCount_;
            return;
        }
        if (line.rfind("{\"kind\":\"memory\"", 0) == 0) {
            heapReport(line);
            return;
        }
        if (line.rfind("{\"kind\":\"reload\"", 0) == 0) {
            ++reloadsSeen_;
            return;
        }
        if (line.rfind("{\"kind\":\"router\"", 0) == 0) {
            routerLine(line);
            return;
        }
        const auto component = field(line, "component");
        if (!component || component->empty()) return;
        // Every component the host made shows in the trace from its first
        // command on.
        if (!created_.count(*component)) created_.emplace(*component);
        if (line.find("\"text\":\"AS\"") == std::string_view::npos) return;
        const auto direction = field(line, "direction");
        if (direction && *direction == "to_host") endedWithAs_.emplace(*component);
    }

    // --- receivers ---

    void receiveUdp5() {
        udp5_.async_receive(asio::buffer(udpBuffer5_),
                            [this](const boost::system::error_code& error, std::size_t size) {
                                if (error) return;
                                // PBC, VER, FLAGS, SCREEN, then the display messages.
                                if (size >= 2)
                                    for (auto& [index, text] : readTsl5(udpBuffer5_.data(), size)) {
                                        screenShows(receiver_kind::tsl5_udp, index, text);
                                        shown5udp_[index] = std::move(text);
                                        ++packets5udp_;
                                    }
                                receiveUdp5();
                            });
    }

    void receiveUdp31() {
        udp31_.async_receive(
            asio::buffer(udpBuffer31_), [this](const boost::system::error_code& error, std::size_t size) {
                if (error) return;
                // 0x80 + address, control, 16 characters.
                if (size == 18 && udpBuffer31_[0] >= 0x80) {
                    const int index = udpBuffer31_[0] - 0x80;
                    std::string text(reinterpret_cast<const char*>(&udpBuffer31_[2]), 16);
                    screenShows(receiver_kind::tsl31_udp, index, rtrimmed(text));
                    shown31_[index] = std::move(text);
                    ++packets31_;
                }
                receiveUdp31();
            });
    }

    void acceptTcp() {
        tcpAcceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
            if (error) return;
            ++tcpAccepted_;
            closeTcp();
            tcp_ = std::make_unique<tcp::socket>(std::move(socket));
            tcpFrame_.clear();
            tcpEscape_ = false;
            tcpInPacket_ = false;
            tcpReading_ = false;
            if (!tcpStalled_) readTcp();
            acceptTcp();
        });
    }

    void closeTcp() {
        if (!tcp_) return;
        boost::system::error_code ignored;
        tcp_->shutdown(tcp::socket::shutdown_both, ignored);
        tcp_->close(ignored);
        // The read still pending holds the socket; it ends with an error.
        closedTcp_.push_back(std::move(tcp_));
        if (closedTcp_.size() > 4) closedTcp_.erase(closedTcp_.begin());
    }

    void readTcp() {
        if (!tcp_ || tcpReading_) return;
        tcpReading_ = true;
        tcp::socket* socket = tcp_.get();
        socket->async_read_some(asio::buffer(tcpBuffer_),
                                [this, socket](const boost::system::error_code& error, std::size_t size) {
                                    if (socket != tcp_.get()) return;
                                    tcpReading_ = false;
                                    if (error) {
                                        tcp_.reset();
                                        return;
                                    }
                                    tcpBytes(tcpBuffer_.data(), size);
                                    if (!tcpStalled_) readTcp();
                                });
    }

    // DLE/STX (fe 02) starts a packet; fe fe inside is one fe.
    void tcpBytes(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = bytes[i];
            if (tcpEscape_) {
                tcpEscape_ = false;
                if (b == 0x02) {
                    tcpFrame_.clear();
                    tcpInPacket_ = true;
                    continue;
                }
                if (b != 0xfe) {
                    tcpInPacket_ = false;
                    continue;
                }
            } else if (b == 0xfe) {
                tcpEscape_ = true;
                continue;
            }
            if (!tcpInPacket_) continue;
            tcpFrame_.push_back(b);
            if (tcpFrame_.size() >= 2 && tcpFrame_.size() == std::size_t(tcpFrame_[0] | tcpFrame_[1] << 8) + 2u) {
                for (auto& [index, text] : readTsl5(tcpFrame_.data(), tcpFrame_.size())) {
                    screenShows(receiver_kind::tsl5_tcp, index, text);
                    shown5tcp_[index] = std::move(text);
                    ++packets5tcp_;
                }
                tcpInPacket_ = false;
            }
        }
    }

    // --- what each display should show, and what it shows ---

    // The name of the source routed to a destination now.
    std::string nameAt(int device, int destination) {
        const router_state& state = router(device).state();
        const int source = state.routes.at(static_cast<std::size_t>(destination - 1));
        return state.inputLabels.at(static_cast<std::size_t>(source - 1));
    }
    // A name as a screen of `kind` shows it.
    static std::string asShown(receiver_kind kind, const std::string& name) {
        return kind == receiver_kind::tsl31_udp ? rtrimmed(name.substr(0, 16)) : name;
    }
    std::string expectedText(const display& d) { return asShown(d.receiver, nameAt(d.router, d.destination)); }

    // --- what was ever true, and each packet judged against it ---

    static int screenKey(receiver_kind kind, int index) {
        // TSL 5 indexes are shared by its two receivers and never used twice.
        return kind == receiver_kind::tsl31_udp ? -1 - index : index;
    }

    // The name at `destination` now is one its displays may show from now on.
    void noteTrue(int device, int destination) {
        truth_[device - 1][static_cast<std::size_t>(destination)].insert(nameAt(device, destination));
    }

    // The router's state changed at `destination`: its displays should come
    // to show its name; how long that takes is measured.
    void expect(int device, int destination) {
        noteTrue(device, destination);
        const auto found = watchers_.find({device, destination});
        if (found == watchers_.end()) return;
        const auto now = clock_type::now();
        const bool routerQuiet = now >= disturbedUntil_[device - 1];
        for (const int key : found->second) {
            const bool screenQuiet = everShown_[key].receiver != receiver_kind::tsl5_tcp || now >= screenDisturbedUntil_;
            awaited_[key] = awaited{nameAt(device, destination), now, routerQuiet && screenQuiet};
        }
    }

    // Every change to a router's state goes through these, so that what was
    // true is known.
    void routeAt(int device, int destination, int source) {
        router(device).route(destination, source);
        expect(device, destination);
    }
    void renameAt(int device, int database, int index, const std::string& text) {
        router(device).setLabel(database, index, text);
        if (database != 0) return;
        const std::vector<int>& routes = router(device).state().routes;
        for (std::size_t d = 0; d < routes.size(); ++d)
            if (routes[d] == index) expect(device, static_cast<int>(d) + 1);
    }
    void restartRouter(int device, router_state state) {
        router(device).restart(std::move(state));
        disturb(device);
        for (int d = 1; d <= destinations_per_router; ++d) expect(device, d);
    }
    void disturb(int device) { disturbedUntil_[device - 1] = clock_type::now() + disturbance; }

    void screenShows(receiver_kind kind, int index, const std::string& text) {
        const int key = screenKey(kind, index);
        const auto shown = everShown_.find(key);
        // A display removed, or not yet routed, is sent blank: never a name.
        if (text.empty()) return;
        bool wasTrue = false;
        if (shown != everShown_.end()) {
            const display& d = shown->second;
            for (const std::string& name : truth_[d.router - 1][static_cast<std::size_t>(d.destination)])
                if (asShown(kind, name) == text) {
                    wasTrue = true;
                    break;
                }
        }
        if (!wasTrue && shown != everShown_.end() && clock_type::now() < lostPushesUntil_[shown->second.router - 1]) {
            // A router that lost what it should have pushed: no host can
            // know its names until it reads the router again (at the
            // keep-alive it misses, or the resync).
            ++neverTrueAfterLoss_;
        } else if (!wasTrue) {
            ++neverTrue_;
            if (neverTrueSeen_.size() < 10) {
                const double at = std::chrono::duration<double>(clock_type::now() - startedAt_).count();
                neverTrueSeen_.push_back(
                    (shown == everShown_.end() ? std::string("an index no display has, ") + receiverName(kind) +
                                                     " index " + std::to_string(index)
                                               : describe(shown->second, text, nameAt(shown->second.router,
                                                                                       shown->second.destination))) +
                    " (never true there), " + std::to_string(at) + " s into the changes");
            }
        }
        const auto wait = awaited_.find(key);
        if (wait != awaited_.end() && asShown(kind, wait->second.text) == text) {
            (wait->second.linkUp ? latencyLinkUp_ : latencyDisturbed_)
                .push_back(std::chrono::duration<double>(clock_type::now() - wait->second.since).count());
            awaited_.erase(wait);
        }
    }

    // A router lost: when a stalled link made it so, how long that took.
    void routerLine(std::string_view line) {
        const auto text = field(line, "text");
        if (!text || text->rfind("router ", 0) != 0 || text->find(": lost") == std::string_view::npos) return;
        const int device = std::atoi(std::string(text->substr(7)).c_str());
        if (device < 1 || device > router_count) return;
        auto& started = stalledAt_[device - 1];
        if (!started) return;
        stallSeen_.push_back(std::chrono::duration<double>(clock_type::now() - *started).count());
        started.reset();
    }

    std::optional<std::string> shownText(const display& d) const {
        const shown_texts& shown = d.receiver == receiver_kind::tsl5_udp   ? shown5udp_
                                   : d.receiver == receiver_kind::tsl5_tcp ? shown5tcp_
                                                                           : shown31_;
        const auto it = shown.find(d.index);
        if (it == shown.end()) return std::nullopt;
        return d.receiver == receiver_kind::tsl31_udp ? rtrimmed(it->second) : it->second;
    }

    int mismatches() {
        int wrong = 0;
        for (const display& d : wall_)
            if (shownText(d) != expectedText(d)) ++wrong;
        return wrong;
    }

    // --- phases ---

    void waitForFirstConvergence() {
        firstDeadline_ = clock_type::now() + longest_settling;
        checkFirst();
    }

    void checkFirst() {
        phaseTimer_.expires_after(milliseconds(250));
        phaseTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            if (hostExited()) return abort("quon-host exited before the wall showed");
            if (mismatches() == 0) {
                startedAt_ = clock_type::now();
                changesCpuFrom_ = cpuSeconds(host_);
                std::printf("soak: all %zu displays show their sources after %.1f s; changes and faults begin\n",
                            wall_.size(), std::chrono::duration<double>(startedAt_ - launchedAt_).count());
                std::fflush(stdout);
                changesRunning_ = true;
                change();
                scheduleFault();
                endChangesAfter(std::chrono::seconds(seconds_));
                return;
            }
            if (clock_type::now() > firstDeadline_) return abort("the wall never showed its sources at the start");
            checkFirst();
        });
    }

    void endChangesAfter(std::chrono::seconds duration) {
        phaseTimer_.expires_after(duration);
        phaseTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            changesRunning_ = false;
            changeTimer_.cancel();
            faultTimer_.cancel();
            // A fault still under way ends now, as a facility's would.
            videohub_->setSilent(false);
            swp08_->setSilent(false);
            emberplus_->setSilent(false);
            tcpStalled_ = false;
            readTcp();
            for (auto& link : routerLinks_) link->calm();
            screenLink_->calm();
            udp5Link_->calm();
            udp31Link_->calm();
            settleFrom_ = clock_type::now();
            std::printf("soak: changes and faults stopped; settling\n");
            std::fflush(stdout);
            settle();
        });
    }

    void settle() {
        phaseTimer_.expires_after(milliseconds(500));
        phaseTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            const auto waited = clock_type::now() - settleFrom_;
            if (hostExited()) return abort("quon-host exited while the wall settled");
            const bool right = mismatches() == 0;
            if (right && rightAfter_ < 0) rightAfter_ = std::chrono::duration<double>(waited).count();
            if (waited >= least_settling && !right && !reportedSlow_) {
                // Not a failure yet: a display may wait for its retry timer
                // or a screen for its reconnection. Said, so that a slow
                // convergence is seen.
                reportedSlow_ = true;
                std::printf("soak: %d displays not yet right %lld s after the changes stopped, e.g.:\n", mismatches(),
                            static_cast<long long>(least_settling.count() / 1000));
                int shownCount = 0;
                for (const display& d : wall_) {
                    const std::optional<std::string> shown = shownText(d);
                    if (shown == expectedText(d) || ++shownCount > 5) continue;
                    std::printf("  %s\n", describe(d, shown).c_str());
                }
                std::fflush(stdout);
            }
            if ((waited >= least_settling && right) || waited >= longest_settling) {
                settledAfter_ = std::chrono::duration<double>(waited).count();
                settledRss_ = residentKiB(host_);
                hostCpuSeconds_ = cpuSeconds(host_);
                hostRunSeconds_ = std::chrono::duration<double>(clock_type::now() - launchedAt_).count();
                if (!traced_) counted_ = violationsCounted();
                stop();
                return;
            }
            settle();
        });
    }

    void stop() {
        stopping_ = true;
        memoryTimer_.cancel();
        wallAtEnd_ = wall_;
        for (const display& d : wall_) {
            finalShown_[d.name] = shownText(d);
            finalExpected_[d.name] = expectedText(d);
        }
        if (!hostExited()) ::kill(host_, SIGTERM);
        if (hostOutputEnded_) {
            io_.stop();
            return;
        }
        // The host's output ends when it exits; the guard ends the wait if
        // it never does.
        phaseTimer_.expires_after(std::chrono::seconds(30));
        phaseTimer_.async_wait([this](const boost::system::error_code& error) {
            if (!error) io_.stop();
        });
    }

    void abort(const std::string& why) {
        abortReason_ = why;
        stop();
    }

    bool hostExited() {
        int status = 0;
        if (hostStatus_) return true;
        if (waitpid(host_, &status, WNOHANG) == host_) {
            hostStatus_ = status;
            return true;
        }
        return false;
    }

    // --- changes ---

    void change() {
        changeTimer_.expires_after(tick);
        changeTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error || !changesRunning_) return;
            for (int i = 0; i < changes_per_tick; ++i) oneChange();
            change();
        });
    }

    void oneChange() {
        const int device = deviceDraw();
        const double what = uniform(0, 1);
        if (what < 0.9) {
            const int destination = destinationDraw();
            routeAt(device, destination, sourceDraw());
            ++routeChanges_;
            return;
        }
        const int database = what < 0.98 ? 0 : 1;
        const int index = sourceDraw();
        const std::string text =
            database == 0 ? label(kindOf(device), index, ++labelVersion_)
                          : "OUT " + std::to_string(index) + "." + std::to_string(labelVersion_);
        if (device != 2) {
            renameAt(device, database, index, text);
        } else {
            heldSwp08Labels_.emplace_back(database, index, text);
        }
        ++labelChanges_;
    }

    void applyHeldSwp08Labels() {
        for (const auto& [database, index, text] : heldSwp08Labels_) renameAt(2, database, index, text);
        swp08LabelsApplied_ += heldSwp08Labels_.size();
        heldSwp08Labels_.clear();
    }

    // --- faults ---

    void scheduleFault() {
        faultTimer_.expires_after(between(300, 2500));
        faultTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error || !changesRunning_) return;
            if (faultBag_.empty()) {
                for (int k = 0; k < fault_kinds; ++k) faultBag_.push_back(static_cast<fault_kind>(k));
                std::shuffle(faultBag_.begin(), faultBag_.end(), random_);
            }
            const fault_kind kind = faultBag_.back();
            faultBag_.pop_back();
            fault(kind);
            scheduleFault();
        });
    }

    void fault(fault_kind kind) {
        const int device = deviceDraw();
        ++faults_[kind];
        switch (kind) {
            case drop:
                disturb(device);
                if (device == 2) applyHeldSwp08Labels();
                router(device).dropConnections();
                break;
            case silence: {
                // Around the time the host takes to see a router that does
                // not answer its keep-alive (about 3 s by default): some are
                // seen and the router read again, some are not, and what they
                // hid is found by the resync.
                quon::fake::fake_router& silent = router(device);
                silent.setSilent(true);
                const milliseconds lasting = between(1500, 4000);
                disturbedUntil_[device - 1] = clock_type::now() + lasting + disturbance;
                lostPushesUntil_[device - 1] = clock_type::now() + lasting + resync + milliseconds(2000);
                after(lasting, [&silent] { silent.setSilent(false); });
                break;
            }
            case restart:
                if (device == 2) heldSwp08Labels_.clear();
                restartRouter(device, routerState(kindOf(device), ++generation_[device - 1]));
                break;
            case receiver_close:
                screenDisturbedUntil_ = clock_type::now() + disturbance;
                closeTcp();
                break;
            case receiver_stall: {
                tcpStalled_ = true;
                const milliseconds lasting = between(1000, 4000);
                screenDisturbedUntil_ = clock_type::now() + lasting + disturbance;
                after(lasting, [this] {
                    tcpStalled_ = false;
                    readTcp();
                });
                break;
            }
            case reload: rewriteWall(); break;
            case link_stall: {
                // A network that holds everything, both ways, the
                // connections open: the host must see it by its own asking.
                const milliseconds lasting = between(2800, 3200);
                routerLinks_[device - 1]->stall(lasting);
                disturbedUntil_[device - 1] = clock_type::now() + lasting + disturbance;
                stalledAt_[device - 1] = clock_type::now();
                after(lasting, [this, device] { stalledAt_[device - 1].reset(); });
                break;
            }
            case link_reset:
                // One of the four TCP links: a router's, or the TSL TCP
                // receiver's.
                if (std::uniform_int_distribution<int>(0, router_count)(random_) == router_count) {
                    screenDisturbedUntil_ = clock_type::now() + disturbance;
                    screenLink_->reset();
                } else {
                    disturb(device);
                    if (device == 2) applyHeldSwp08Labels();
                    routerLinks_[device - 1]->reset();
                }
                break;
            case fault_kinds: break;
        }
    }

    template <typename action>
    void after(milliseconds wait, action act) {
        auto timer = std::make_shared<asio::steady_timer>(io_, wait);
        timer->async_wait([this, timer, act](const boost::system::error_code& error) {
            if (!error && changesRunning_) act();
        });
    }

    // Some displays removed, as many new ones added (on TSL 5 only: the
    // TSL 3.1 addresses are few), and the host told.
    void rewriteWall() {
        const int changed = std::uniform_int_distribution<int>(5, 40)(random_);
        for (int i = 0; i < changed; ++i) {
            const std::size_t at =
                std::uniform_int_distribution<std::size_t>(tsl31_displays, wall_.size() - 1)(random_);
            wall_.erase(wall_.begin() + static_cast<std::ptrdiff_t>(at));
            ++displaysRemoved_;
        }
        for (int i = 0; i < changed; ++i) addDisplay(false);
        displaysAdded_ += changed;
        writeWall();
        if (!hostExited()) ::kill(host_, SIGHUP);
    }

    // Once a second: the host's resident memory read here, and its heap in
    // use asked for (the answer comes in its output, heapReport). Only
    // while the changes run: before, the host may not yet listen for
    // SIGUSR1, whose default action would end it.
    void sampleMemory() {
        memoryTimer_.expires_after(std::chrono::seconds(1));
        memoryTimer_.async_wait([this](const boost::system::error_code& error) {
            if (error) return;
            const long rss = residentKiB(host_);
            peakRss_ = std::max(peakRss_, rss);
            if (changesRunning_) {
                if (clock_type::now() - startedAt_ >= warm_up && warmRss_ < 0) warmRss_ = rss;
                endRss_ = rss;
                if (!hostExited()) ::kill(host_, SIGUSR1);
            }
            if (changesRunning_ && ++samples_ % 10 == 0) {
                int faults = 0;
                for (int f : faults_) faults += f;
                std::printf("soak: %3d s: %llu changes, %d faults, %zu displays, quon-host heap %llu KiB, VmRSS %ld KiB\n",
                            samples_, static_cast<unsigned long long>(routeChanges_ + labelChanges_), faults,
                            wall_.size(), static_cast<unsigned long long>(lastHeap_ / 1024), rss);
                std::fflush(stdout);
            }
            sampleMemory();
        });
    }

    // Dated by the host's own clock: this process may read the host's
    // output seconds late when the machine is busy.
    void heapReport(std::string_view line) {
        const std::optional<double> bytes = number(line, "heap_bytes");
        const std::optional<double> hostSeconds = number(line, "seconds");
        if (bytes && hostSeconds) heapSample(*bytes, *hostSeconds);
    }
    void heapSample(double bytes, double hostSeconds) {
        lastHeap_ = static_cast<std::uint64_t>(bytes);
        const double since = std::chrono::duration<double>(forkedAt_ - startedAt_).count() + hostSeconds;
        if (samplesFile_) std::fprintf(samplesFile_, "%.3f,%llu\n", since, static_cast<unsigned long long>(lastHeap_));
        if (since >= double(warm_up.count())) heapSamples_.emplace_back(since, bytes);
    }

    // The host's count of contract violations, from its /metrics (untraced
    // runs); nullopt when the page does not answer.
    std::optional<double> violationsCounted() const {
        std::ifstream errors(hostErrorsPath_);
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        const std::string marker = "the wall is at http://127.0.0.1:";
        const std::size_t at = text.find(marker);
        if (at == std::string::npos) return std::nullopt;
        const std::string port = text.substr(at + marker.size(), text.find('/', at + marker.size()) - at - marker.size());
        boost::asio::ip::tcp::iostream page("127.0.0.1", port);
        page.expires_after(std::chrono::seconds(10));
        page << "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" << std::flush;
        const std::string scrape((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
        const std::string series = "\nquon_contract_violations_total ";
        const std::size_t found = scrape.find(series);
        if (found == std::string::npos) return std::nullopt;
        return std::strtod(scrape.c_str() + found + series.size(), nullptr);
    }

    static std::optional<double> number(std::string_view line, std::string_view name) {
        const std::string key = "\"" + std::string(name) + "\":";
        const std::size_t at = line.find(key);
        if (at == std::string_view::npos) return std::nullopt;
        const std::string text(line.substr(at + key.size(), 32));
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str()) return std::nullopt;
        return value;
    }

    // --- the report ---

    int finish() {
        int status = 0;
        if (!hostStatus_) {
            const auto deadline = clock_type::now() + std::chrono::seconds(10);
            while (waitpid(host_, &status, WNOHANG) != host_) {
                if (clock_type::now() > deadline) {
                    ::kill(host_, SIGKILL);
                    waitpid(host_, &status, 0);
                    break;
                }
                usleep(10000);
            }
            hostStatus_ = status;
        }
        std::vector<std::string> failures;
        if (!abortReason_.empty()) failures.push_back(abortReason_);

        int wrong = 0;
        for (const display& d : wallAtEnd_) {
            const std::optional<std::string>& shown = finalShown_[d.name];
            if (shown == finalExpected_[d.name]) continue;
            if (++wrong <= 20) failures.push_back(describe(d, shown, finalExpected_[d.name]));
        }
        if (wrong > 20) failures.push_back(std::to_string(wrong - 20) + " more displays wrong");

        if (neverTrue_ > 0) {
            failures.push_back(std::to_string(neverTrue_) + " packets showed a name never true at their display's destination");
            for (const std::string& seen : neverTrueSeen_) failures.push_back("never true: " + seen);
        }
        for (const std::string& v : violations_) failures.push_back("contract violation: " + v);
        if (!traced_ && !counted_)
            failures.push_back("quon-host's /metrics gave no count of contract violations");
        else if (!traced_ && *counted_ != 0)
            failures.push_back("quon-host's /metrics counted " + std::to_string(std::lround(*counted_)) +
                               " contract violations");
        if (violationCount_ > violations_.size())
            failures.push_back(std::to_string(violationCount_ - violations_.size()) + " more contract violations");

        // A display added by one rewrite of the wall file and removed by the
        // next may never exist, when the host reads the file once after
        // both: the host's own trace says which components it made.
        int withoutAs = 0;
        for (const std::string& name : created_) {  // empty without a trace
            if (endedWithAs_.count(name)) continue;
            if (++withoutAs <= 10) failures.push_back("display " + name + " did not end with \"AS\"");
        }
        if (withoutAs > 10)
            failures.push_back(std::to_string(withoutAs - 10) + " more displays did not end with \"AS\"");

        const bool exitedZero = WIFEXITED(*hostStatus_) && WEXITSTATUS(*hostStatus_) == 0;
        if (!exitedZero)
            failures.push_back(WIFEXITED(*hostStatus_)
                                   ? "quon-host exited " + std::to_string(WEXITSTATUS(*hostStatus_))
                                   : "quon-host ended by signal " + std::to_string(WTERMSIG(*hostStatus_)));

        const heap_trend heap = heapTrend(heapSamples_);
        const bool memoryJudged = seconds_ >= 2 * warm_up.count() && heap.samples >= 10;
        if (memoryJudged && heap.slope > heap_growth_allowed)
            failures.push_back("quon-host's heap in use grew " + std::to_string(std::lround(heap.slope)) +
                               " bytes a second after warm-up (" + std::to_string(heap.first / 1024) + " KiB -> " +
                               std::to_string(heap.last / 1024) + " KiB; at most " +
                               std::to_string(std::lround(heap_growth_allowed)) + " allowed)");
        else if (seconds_ >= 2 * warm_up.count() && heap.samples < 10)
            failures.push_back("quon-host reported its heap " + std::to_string(heap.samples) +
                               " times after warm-up; the memory verdict needs 10");

        std::printf(
            "\nsoak: seed %llu, %d s of changes and faults; every display right %.1f s after they stopped, "
            "checked at %.1f s\n",
            static_cast<unsigned long long>(seed_), seconds_, rightAfter_, settledAfter_);
        std::printf(
            "  changes: %llu routes, %llu labels (%zu SW-P-08 labels applied at drops; %zu held back at the end)\n",
            static_cast<unsigned long long>(routeChanges_), static_cast<unsigned long long>(labelChanges_),
            swp08LabelsApplied_, heldSwp08Labels_.size());
        std::printf("  faults:\n");
        for (int k = 0; k < fault_kinds; ++k) std::printf("    %-46s %d\n", fault_names[k], faults_[k]);
        std::printf("  wall reloads seen by the host: %d; displays added %d, removed %d\n", reloadsSeen_,
                    displaysAdded_, displaysRemoved_);
        std::printf("  TSL packets received: %llu TSL 5 UDP, %llu TSL 5 TCP (%d connections), %llu TSL 3.1 UDP\n",
                    static_cast<unsigned long long>(packets5udp_), static_cast<unsigned long long>(packets5tcp_),
                    tcpAccepted_, static_cast<unsigned long long>(packets31_));
        std::printf("  router connections accepted: Videohub %d, SW-P-08 %d, Ember+ %d\n",
                    videohub_->connectionsAccepted(), swp08_->connectionsAccepted(), emberplus_->connectionsAccepted());
        std::printf("  displays checked: %zu, wrong: %d\n", wallAtEnd_.size(), wrong);
        std::printf("  never-true names: %llu (every packet judged); after a router lost its pushes, until read again: "
                    "%llu\n",
                    static_cast<unsigned long long>(neverTrue_), static_cast<unsigned long long>(neverTrueAfterLoss_));
        for (auto* figures : {&latencyLinkUp_, &latencyDisturbed_, &stallSeen_}) std::sort(figures->begin(), figures->end());
        std::printf("  a change on a screen, its links up: p50 %.3f s, p99 %.3f s, max %.3f s (%zu changes); within 3 s of "
                    "a fault of its router or screen: p50 %.3f s, p99 %.3f s, max %.3f s (%zu)\n",
                    quantile(latencyLinkUp_, 0.5), quantile(latencyLinkUp_, 0.99), quantile(latencyLinkUp_, 1),
                    latencyLinkUp_.size(), quantile(latencyDisturbed_, 0.5), quantile(latencyDisturbed_, 0.99),
                    quantile(latencyDisturbed_, 1), latencyDisturbed_.size());
        if (traced_)
            std::printf("  a stalled link seen lost: p50 %.2f s, max %.2f s (%zu of %d stalls)\n", quantile(stallSeen_, 0.5),
                        quantile(stallSeen_, 1), stallSeen_.size(), faults_[link_stall]);
        std::printf("  fault relays: TCP links accepted %d, %d, %d (routers), %d (TSL TCP), reset %d; datagrams %llu "
                    "TSL 5, %llu TSL 3.1, lost %llu, doubled %llu\n",
                    routerLinks_[0]->connectionsAccepted(), routerLinks_[1]->connectionsAccepted(),
                    routerLinks_[2]->connectionsAccepted(), screenLink_->connectionsAccepted(),
                    routerLinks_[0]->resets() + routerLinks_[1]->resets() + routerLinks_[2]->resets() +
                        screenLink_->resets(),
                    static_cast<unsigned long long>(udp5Link_->received()),
                    static_cast<unsigned long long>(udp31Link_->received()),
                    static_cast<unsigned long long>(udp5Link_->lost() + udp31Link_->lost()),
                    static_cast<unsigned long long>(udp5Link_->doubled() + udp31Link_->doubled()));
        if (traced_) {
            std::printf("  contract violations: %zu; lines of trace read: %llu\n", violationCount_,
                        static_cast<unsigned long long>(hostLines_));
            std::printf("  components that ended with \"AS\": %zu of the %zu the host made\n",
                        created_.size() - withoutAs, created_.size());
        } else {
            std::printf("  contract violations: %s counted at /metrics (no trace: \"AS\" not checked)\n",
                        counted_ ? std::to_string(std::lround(*counted_)).c_str() : "none");
        }
        if (memoryJudged)
            std::printf(
                "  quon-host heap in use: %llu KiB after warm-up, %llu KiB at the end of the changes; trend %+.0f "
                "bytes a second over %zu samples (at most %.0f allowed)\n",
                static_cast<unsigned long long>(heap.first / 1024), static_cast<unsigned long long>(heap.last / 1024),
                heap.slope, heap.samples, heap_growth_allowed);
        else
            std::printf("  quon-host heap in use: not judged (runs of %lld s or more)\n",
                        static_cast<long long>(2 * warm_up.count()));
        std::printf("  quon-host VmRSS (not judged): %ld KiB after warm-up, %ld KiB at the end of the changes, %ld KiB "
                    "settled, peak %ld KiB\n",
                    warmRss_, endRss_, settledRss_, peakRss_);
        std::printf("  quon-host CPU time: %.1f s in %.1f s (%.0f %% of one core)\n", hostCpuSeconds_, hostRunSeconds_,
                    hostRunSeconds_ > 0 ? 100 * hostCpuSeconds_ / hostRunSeconds_ : 0.0);
        const unsigned long long changes = routeChanges_ + labelChanges_;
        if (changes > 0)
            std::printf("  quon-host CPU per change, %s: %.1f us (from the first change until settled)\n",
                        traced_ ? "traced" : "untraced", 1e6 * (hostCpuSeconds_ - changesCpuFrom_) / double(changes));
        std::printf("  quon-host exit: %s\n", exitedZero ? "0" : "not 0");
        std::ifstream errors(hostErrorsPath_);
        std::string line;
        int warnings = 0;
        while (std::getline(errors, line))
            if (++warnings <= 5) std::printf("  quon-host warned: %s\n", line.c_str());
        if (warnings > 5) std::printf("  quon-host warned %d times in all\n", warnings);

        if (failures.empty()) {
            std::printf("soak: passed\n");
            return 0;
        }
        for (const std::string& f : failures) std::printf("FAIL: %s\n", f.c_str());
        std::printf("soak: failed; reproduce with --seconds %d --seed %llu%s%s\n", seconds_,
                    static_cast<unsigned long long>(seed_), hostPreload_.empty() ? "" : " --host-preload ",
                    hostPreload_.c_str());
        return 1;
    }

    std::string describe(const display& d, const std::optional<std::string>& shown) {
        return describe(d, shown, expectedText(d));
    }

    static std::string describe(const display& d, const std::optional<std::string>& shown,
                                const std::string& expected) {
        return "display " + d.name + " (router " + std::to_string(d.router) + ", destination " +
               std::to_string(d.destination) + ", " + receiverName(d.receiver) + " index " + std::to_string(d.index) +
               "): expected \"" + expected + "\", shown " + (shown ? "\"" + *shown + "\"" : std::string("nothing"));
    }

    static const char* receiverName(receiver_kind kind) {
        switch (kind) {
            case receiver_kind::tsl5_udp: return "TSL 5 UDP";
            case receiver_kind::tsl5_tcp: return "TSL 5 TCP";
            case receiver_kind::tsl31_udp: return "TSL 3.1 UDP";
        }
        return "";
    }

    int fail(const std::string& why) {
        std::printf("FAIL: %s\n", why.c_str());
        return 1;
    }

    const int seconds_;
    const std::uint64_t seed_;
    const std::string hostPreload_;
    const std::string heapLog_;
    const bool traced_;
    std::FILE* samplesFile_ = nullptr;
    std::mt19937_64 random_;
    asio::io_context io_;
    asio::steady_timer changeTimer_, faultTimer_, phaseTimer_, memoryTimer_;
    std::unique_ptr<quon::fake::fake_router> videohub_, swp08_, emberplus_;
    udp::socket udp5_, udp31_;
    tcp::acceptor tcpAcceptor_;
    // Between the host and each router and screen.
    std::unique_ptr<quon::fake::tcp_fault_relay> routerLinks_[router_count], screenLink_;
    std::unique_ptr<quon::fake::udp_fault_relay> udp5Link_, udp31Link_;
    std::unique_ptr<tcp::socket> tcp_;
    std::vector<std::unique_ptr<tcp::socket>> closedTcp_;
    asio::posix::stream_descriptor hostOutput_;

    std::string root_, hostErrorsPath_;
    pid_t host_ = -1;
    std::optional<int> hostStatus_;
    clock_type::time_point launchedAt_ = clock_type::now(), forkedAt_, startedAt_, settleFrom_, firstDeadline_;

    std::vector<display> wall_, wallAtEnd_;
    std::set<std::string, std::less<>> created_, endedWithAs_;
    int nextDisplay_ = 1, nextTsl5Index_ = 0, nextTsl31Index_ = 0;
    int generation_[router_count] = {0, 0, 0};
    int labelVersion_ = 0;
    std::vector<std::tuple<int, int, std::string>> heldSwp08Labels_;
    std::size_t swp08LabelsApplied_ = 0;
    std::vector<fault_kind> faultBag_;

    std::array<std::uint8_t, 2048> udpBuffer5_{}, udpBuffer31_{};
    std::array<std::uint8_t, 8192> tcpBuffer_{};
    std::vector<std::uint8_t> tcpFrame_;
    bool tcpEscape_ = false, tcpInPacket_ = false, tcpReading_ = false, tcpStalled_ = false;
    std::array<char, 65536> hostBuffer_{};
    std::string hostPending_;
    shown_texts shown5udp_, shown5tcp_, shown31_;
    std::map<std::string, std::optional<std::string>> finalShown_;
    std::map<std::string, std::string> finalExpected_;

    bool changesRunning_ = false, stopping_ = false, hostOutputEnded_ = false;
    std::string abortReason_;
    std::uint64_t routeChanges_ = 0, labelChanges_ = 0, hostLines_ = 0;
    std::uint64_t packets5udp_ = 0, packets5tcp_ = 0, packets31_ = 0;
    int tcpAccepted_ = 0;
    int faults_[fault_kinds] = {};
    int reloadsSeen_ = 0, displaysAdded_ = 0, displaysRemoved_ = 0;
    std::vector<std::string> violations_;
    std::size_t violationCount_ = 0;
    long warmRss_ = -1, endRss_ = -1, settledRss_ = -1, peakRss_ = -1;
    std::vector<std::pair<double, double>> heapSamples_;  // seconds since the changes began, bytes
    std::uint64_t lastHeap_ = 0;
    int samples_ = 0;
    double hostCpuSeconds_ = 0, hostRunSeconds_ = 0;
    double changesCpuFrom_ = 0;         // the host's CPU time when the changes began
    std::optional<double> counted_;     // untraced: contract violations at /metrics
    double settledAfter_ = 0, rightAfter_ = -1;
    bool reportedSlow_ = false;

    // By router and destination: every name that was the name of the
    // source routed there at some moment of the run.
    std::vector<std::unordered_set<std::string>> truth_[router_count];
    std::unordered_map<int, display> everShown_;                // by screenKey: every display ever in the wall
    std::map<std::pair<int, int>, std::vector<int>> watchers_;  // (router, destination) -> screenKeys now
    std::uint64_t neverTrue_ = 0;
    std::vector<std::string> neverTrueSeen_;
    struct awaited {
        std::string text;
        clock_type::time_point since;
        bool linkUp;  // made while its router's link, and its screen's, were up and quiet of faults
    };
    std::unordered_map<int, awaited> awaited_;  // by screenKey: the newest change a screen has yet to show
    std::vector<double> latencyLinkUp_, latencyDisturbed_, stallSeen_;  // seconds
    clock_type::time_point disturbedUntil_[router_count] = {};
    // A router that went silent lost its pushes: until it has surely been
    // read again, its displays may show what it did not tell.
    clock_type::time_point lostPushesUntil_[router_count] = {};
    std::uint64_t neverTrueAfterLoss_ = 0;
    clock_type::time_point screenDisturbedUntil_{};  // the TSL TCP receiver's faults
    std::optional<clock_type::time_point> stalledAt_[router_count];
};

int usage() {
    std::fprintf(stderr, "usage: soak --seconds N [--seed N] [--host-preload LIBRARY] [--heap-log FILE] [--no-trace]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    soak_options options;
    options.seed = std::random_device()();
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-trace") {
            options.traced = false;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (option == "--host-preload") {
            options.hostPreload = value;
            continue;
        }
        if (option == "--heap-log") {
            options.heapLog = value;
            continue;
        }
        char* end = nullptr;
        const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') return usage();
        if (option == "--seconds")
            options.seconds = static_cast<int>(std::min<unsigned long long>(number, 1u << 30));
        else if (option == "--seed")
            options.seed = number;
        else
            return usage();
    }
    if (options.seconds <= 0) return usage();
    ::signal(SIGPIPE, SIG_IGN);
    soak run(options);
    return run.run();
}
