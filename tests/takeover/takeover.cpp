// pair: a main and a backup quon-host under keepalived, through faults of
// the active host, in network namespaces this program builds and removes.
//
//   pair [--rounds N] [--seed N] [--keep-logs FOLDER]
//
// Three namespaces joined by a bridge, with addresses from 192.0.2.0/24
// only: host A (192.0.2.1) and host B (192.0.2.2), each running keepalived
// with the configuration of examples/pair/ and quon-host serve with
// `[pair] active_address = "192.0.2.50"`; and the facility (192.0.2.10),
// where this program itself runs two fake Videohub routers and a TSL 5 UDP
// and a TSL 5 TCP receiver that note which host each message came from.
//
// Rounds come in an order the seed shuffles, N of each kind: serve on the
// active host killed (SIGKILL), stopped (SIGSTOP, SIGCONT after the
// takeover), the active keepalived stopped, the active host's link taken
// down and up, the active host rebooted (every process of it killed, its
// addresses gone, then started again). Routes and labels change on the
// routers before, during and after each fault. After each fault the program
// checks that the other host took over, that every screen became right,
// that no screen was blanked, that the old host sends nothing once the new
// one is active (no failback with nopreempt, no host left active), and
// measures the takeover gap (the last message of the old active host to
// the first of the new), the time until every screen is right, and how long
// both hosts sent. Those figures are printed against their targets; they
// are not a verdict, as they follow the machine.
//
// Exit: 0 passed, 1 failed, 77 skipped (not root, no `ip netns`, no
// keepalived or curl), with the reason on standard output.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "fake_routers.h"
#include "run_until.h"
#include "tsl_decoder.h"

namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
namespace fake = quon::fake;
using boost::asio::ip::tcp;
using boost::asio::ip::udp;
using steady = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

constexpr const char* service_address = "192.0.2.50";
constexpr const char* facility_address = "192.0.2.10";
constexpr std::array<const char*, 2> host_addresses = {"192.0.2.1", "192.0.2.2"};
constexpr std::array<const char*, 2> host_names = {"A", "B"};
constexpr int router_count = 2;
constexpr int router_size = 16;  // sources and destinations of each router
// Bounds past which something did not happen at all (a verdict), far above
// the figures' targets, which are only reported.
constexpr std::chrono::seconds takeover_limit{15};
constexpr std::chrono::seconds convergence_limit{15};
constexpr std::chrono::seconds recovery_limit{30};
constexpr int skipped = 77;

// ---- processes -------------------------------------------------------------

int shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void must(const std::string& command) {
    if (shell(command) != 0) throw std::runtime_error("failed: " + command);
}

bool onPath(const std::string& program) { return shell("command -v " + program) == 0; }

// Starts `arguments` in its own process group with standard output and
// error appended to `log`; the process id.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& log,
            const std::map<std::string, std::string>& environment = {}) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        if (in >= 0) dup2(in, 0);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void reap(pid_t pid) {
    if (pid > 0) waitpid(pid, nullptr, 0);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// ---- namespaces ------------------------------------------------------------

// The three namespaces, named after this process so that runs never meet;
// removed with every process in them when this object goes, and, for a run
// that was killed before it could, by the next run.
class namespaces {
public:
    namespaces() {
        removeAbandoned();
        const std::string prefix = "quonpair-" + std::to_string(getpid()) + "-";
        facility = prefix + "f";
        hosts = {prefix + "a", prefix + "b"};
        for (const auto& name : all()) {
            must("ip netns add " + name);
            made_.push_back(name);
            must("ip -n " + name + " link set lo up");
        }
        must("ip -n " + facility + " link add pairbr type bridge forward_delay 0");
        must("ip -n " + facility + " link set pairbr up");
        must("ip -n " + facility + " addr add " + facility_address + "/24 dev pairbr");
        for (size_t h = 0; h < hosts.size(); ++h) {
            const std::string port = std::string("port") + host_names[h];
            must("ip -n " + facility + " link add " + port + " type veth peer name pair0 netns " + hosts[h]);
            must("ip -n " + facility + " link set " + port + " master pairbr up");
            must("ip -n " + hosts[h] + " addr add " + host_addresses[h] + "/24 dev pair0");
            must("ip -n " + hosts[h] + " link set pair0 up");
        }
    }
    ~namespaces() {
        for (const auto& name : made_) remove(name);
    }
    namespaces(const namespaces&) = delete;
    namespaces& operator=(const namespaces&) = delete;

    std::vector<std::string> all() const { return {facility, hosts[0], hosts[1]}; }

    // Moves this thread, and so every socket it opens from now on, into the
    // facility.
    void enterFacility() const {
        const int fd = open(("/run/netns/" + facility).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
            throw std::runtime_error("cannot enter namespace " + facility + ": " + std::strerror(errno));
        close(fd);
    }

    std::string facility;
    std::array<std::string, 2> hosts;

private:
    // This process is in the facility: it leaves the namespace with it.
    static void remove(const std::string& name) {
        shell("ip netns pids " + name + " | grep -vx " + std::to_string(getpid()) + " | xargs -r kill -9");
        shell("ip netns del " + name);
    }
    static void removeAbandoned() {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator("/run/netns", ignored)) {
            const std::string name = entry.path().filename();
            if (name.rfind("quonpair-", 0) != 0) continue;
            const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + 9));
            if (owner > 0 && (kill(owner, 0) == 0 || errno != ESRCH)) continue;
            remove(name);
        }
    }

    std::vector<std::string> made_;
};

// ---- the facility: routers and screens ---------------------------------------

struct message_seen {
    steady::time_point at;
    int host = -1;  // 0 A, 1 B, -1 neither
    std::string text;
};

int hostOf(const asio::ip::address& address) {
    for (size_t h = 0; h < host_addresses.size(); ++h)
        if (address.to_string() == host_addresses[h]) return static_cast<int>(h);
    return -1;
}

// What the screens took: every display message, and what each display of
// each receiver (0 UDP, 1 TCP) shows now.
class screens {
public:
    explicit screens(asio::io_context& io) : udp_(io), acceptor_(io) {
        udp_.open(udp::v4());
        udp_.bind(udp::endpoint(asio::ip::make_address(facility_address), 0));
        const tcp::endpoint where(asio::ip::make_address(facility_address), 0);
        acceptor_.open(where.protocol());
        acceptor_.set_option(tcp::acceptor::reuse_address(true));
        acceptor_.bind(where);
        acceptor_.listen();
        receive();
        accept();
    }

    uint16_t udpPort() const { return udp_.local_endpoint().port(); }
    uint16_t tcpPort() const { return acceptor_.local_endpoint().port(); }

    const std::vector<message_seen>& seen() const { return seen_; }
    const std::string* shows(int receiver, int index) const {
        const auto it = shown_.find({receiver, index});
        return it == shown_.end() ? nullptr : &it->second;
    }
    int blanks() const { return blanks_; }

private:
    struct connection {
        explicit connection(tcp::socket s) : socket(std::move(s)) {}
        tcp::socket socket;
        int host = -1;
        std::array<char, 4096> buffer{};
        std::string pending;  // bytes not yet a whole packet
    };

    void take(const std::string& packet, int receiver, int host) {
        const auto decoded = decodeTsl5(packet);
        if (!decoded) return;
        const auto now = steady::now();
        for (const auto& m : decoded->messages) {
            seen_.push_back({now, host, m.textBytes});
            shown_[{receiver, m.index}] = m.textBytes;
            if (m.textBytes.empty()) ++blanks_;
        }
    }

    void receive() {
        udp_.async_receive_from(asio::buffer(datagram_), from_, [this](boost::system::error_code error, size_t size) {
            if (error) return;
            take(std::string(datagram_.data(), size), 0, hostOf(from_.address()));
            receive();
        });
    }

    void accept() {
        acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
            if (error) return;
            auto c = std::make_shared<connection>(std::move(socket));
            boost::system::error_code ignored;
            c->host = hostOf(c->socket.remote_endpoint(ignored).address());
            read(c);
            accept();
        });
    }

    void read(const std::shared_ptr<connection>& c) {
        c->socket.async_read_some(asio::buffer(c->buffer), [this, c](boost::system::error_code error, size_t size) {
            if (error) return;
            c->pending.append(c->buffer.data(), size);
            unwrap(*c);
            read(c);
        });
    }

    // DLE/STX (fe 02) starts a packet; fe fe inside stands for fe; the
    // packet's own byte count says where it ends.
    void unwrap(connection& c) {
        for (;;) {
            const size_t start = c.pending.find("\xfe\x02");
            if (start == std::string::npos) {
                if (c.pending.size() > 1) c.pending.erase(0, c.pending.size() - 1);
                return;
            }
            std::string packet;
            size_t at = start + 2;
            bool whole = false;
            while (at < c.pending.size()) {
                char byte = c.pending[at];
                if (static_cast<unsigned char>(byte) == 0xfe) {
                    if (at + 1 >= c.pending.size()) break;
                    if (static_cast<unsigned char>(c.pending[at + 1]) != 0xfe) break;  // a new packet: this one is cut
                    ++at;
                }
                packet.push_back(byte);
                ++at;
                if (packet.size() >= 2 && packet.size() == size_t(readLittleEndian16(packet, 0)) + 2) {
                    whole = true;
                    break;
                }
            }
            if (!whole) {
                if (at < c.pending.size()) {  // cut by a new start: drop it
                    c.pending.erase(0, at);
                    continue;
                }
                c.pending.erase(0, start);
                return;
            }
            take(packet, 1, c.host);
            c.pending.erase(0, at);
        }
    }

    udp::socket udp_;
    udp::endpoint from_;
    std::array<char, 4096> datagram_{};
    tcp::acceptor acceptor_;
    std::vector<message_seen> seen_;
    std::map<std::pair<int, int>, std::string> shown_;
    int blanks_ = 0;
};

// ---- the hosts ---------------------------------------------------------------

struct paths {
    std::string quonHost;
    std::string examples;  // examples/pair of the source tree
};

class host {
public:
    host(int number, std::string ns, std::string folder, const paths& where)
        : number_(number), ns_(std::move(ns)), folder_(std::move(folder)), where_(where) {}
    ~host() {
        stopAll();
    }
    host(const host&) = delete;
    host& operator=(const host&) = delete;

    std::string name() const { return host_names[number_]; }
    const std::string& folder() const { return folder_; }

    // The system folder, the wall file and keepalived's configuration,
    // the latter from the example of the same role.
    void write(const std::array<uint16_t, router_count>& routerPorts, uint16_t udpPort, uint16_t tcpPort) {
        const std::string system = folder_ + "/vx/main/config/system";
        fs::create_directories(system);
        for (int r = 1; r <= router_count; ++r)
            std::ofstream(system + "/dev_00" + std::to_string(r) + ".ini")
                << "[Router]\nName=Router " << r << "\nProtocol=videohub\nAddress=" << facility_address << ":"
                << routerPorts[r - 1]
                << "\nRetryFirst=100\nRetryCap=1000\nKeepAlive=1000\nSilence=5000\n"
                   "[Database]\nDatabaseSize_0="
                << router_size << "\nDatabaseSize_1=" << router_size << "\n";
        std::ofstream(system + "/instances.ini") << "[Instances]\n";
        std::ofstream wall(folder_ + "/wall.toml");
        wall << "[pair]\nactive_address = \"" << service_address << "\"\n\n[umd]\nto = \"tsl5+udp://"
             << facility_address << ":" << udpPort << "\"\nrefresh = \"1s\"\n";
        for (int r = 1; r <= router_count; ++r)
            for (int d = 1; d <= router_size; ++d) {
                wall << "\n[[display]]\nname = \"r" << r << "d" << d << "\"\nmatrix = " << r
                     << "\ndestination = " << d << "\numd = { index = " << d;
                if (r == 2) wall << ", to = \"tsl5+tcp://" << facility_address << ":" << tcpPort << "\"";
                wall << " }\n";
            }
        // The example as deployed, but on this namespace's interface, with
        // the health check from the source tree (keepalived's script
        // security wants every folder of a script's path writable by root
        // only, which a build tree need not be).
        std::string conf = readFile(where_.examples + (number_ == 0 ? "/keepalived-main.conf" : "/keepalived-backup.conf"));
        if (conf.empty()) throw std::runtime_error("cannot read the keepalived examples in " + where_.examples);
        replace(conf, "interface eth0", "interface pair0");
        replace(conf, "    enable_script_security\n", "");
        replace(conf, "/usr/local/libexec/quon-host-healthy", where_.examples + "/quon-host-healthy");
        std::ofstream(folder_ + "/keepalived.conf") << conf;
    }

    void startServe() {
        serve_ = spawn({"ip", "netns", "exec", ns_, where_.quonHost, "serve", folder_ + "/wall.toml", "--quiet",
                        "--http", "127.0.0.1:8080"},
                       folder_ + "/serve.log", {{"VX_ROOT", folder_ + "/vx"}, {"VX_SYSTEM", "main"}});
    }
    void startKeepalived() {
        reap(stopping_);  // its pid file names it until it has gone
        stopping_ = -1;
        keepalived_ = spawn({"ip", "netns", "exec", ns_, "keepalived", "--dont-fork", "--log-console", "--log-detail",
                             "--vrrp", "--use-file", folder_ + "/keepalived.conf", "--pid",
                             folder_ + "/keepalived.pid", "--vrrp_pid", folder_ + "/vrrp.pid"},
                            folder_ + "/keepalived.log");
    }
    void killServe() {
        signalServe(SIGKILL);
        reap(serve_);
        serve_ = -1;
    }
    void signalServe(int number) const {
        if (serve_ > 0) kill(serve_, number);
    }
    // Stops keepalived as an administrator does: it gives the address away
    // and exits in its own time, which the screens must not wait for.
    void stopKeepalived() {
        if (keepalived_ > 0) kill(keepalived_, SIGTERM);
        stopping_ = keepalived_;
        keepalived_ = -1;
    }
    void link(bool up) const { must("ip -n " + ns_ + " link set pair0 " + (up ? "up" : "down")); }
    // Power lost: every process killed where it stands, and the address
    // keepalived held is gone with the machine's memory.
    void crash() {
        shell("ip netns pids " + ns_ + " | xargs -r kill -9");
        reap(serve_);
        reap(keepalived_);
        reap(stopping_);
        serve_ = keepalived_ = stopping_ = -1;
        shell("ip -n " + ns_ + " addr del " + service_address + "/24 dev pair0");
        for (const char* file : {"/keepalived.pid", "/vrrp.pid"}) fs::remove(folder_ + file);
    }
    void stopAll() {
        signalServe(SIGCONT);
        killServe();
        stopKeepalived();
        reap(stopping_);
        stopping_ = -1;
    }

    // How often keepalived has said it entered the backup state.
    size_t backupEntries() const { return count(readFile(folder_ + "/keepalived.log"), "Entering BACKUP STATE"); }
    std::string logs() const {
        return "---- " + name() + " serve.log (tail)\n" + tail(readFile(folder_ + "/serve.log")) + "---- " + name() +
               " keepalived.log (tail)\n" + tail(readFile(folder_ + "/keepalived.log"));
    }

private:
    static void replace(std::string& text, const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        if (at == std::string::npos) throw std::runtime_error("the keepalived example has no \"" + from + "\"");
        text.replace(at, from.size(), to);
    }
    // The last 25 lines.
    static std::string tail(const std::string& text) {
        size_t start = text.size();
        for (int lines = 0; lines <= 25; ++lines) {
            if (start == 0) return text;
            const size_t newline = text.rfind('\n', start - 1);
            if (newline == std::string::npos) return text;
            start = newline;
        }
        return text.substr(start + 1);
    }

    int number_;
    std::string ns_;
    std::string folder_;
    paths where_;
    pid_t serve_ = -1;
    pid_t keepalived_ = -1;
    pid_t stopping_ = -1;  // a keepalived told to stop, not yet gone
};

// ---- rounds ------------------------------------------------------------------

enum class fault { kill_serve, stop_serve, stop_keepalived, link_down, reboot };
constexpr std::array<fault, 5> faults = {fault::kill_serve, fault::stop_serve, fault::stop_keepalived,
                                         fault::link_down, fault::reboot};

const char* faultName(fault f) {
    switch (f) {
        case fault::kill_serve: return "serve killed";
        case fault::stop_serve: return "serve stopped";
        case fault::stop_keepalived: return "keepalived stopped";
        case fault::link_down: return "link down";
        case fault::reboot: return "host rebooted";
    }
    return "?";
}

struct round_result {
    fault kind{};
    double gap = 0;       // s: last message of the old active host to the first of the new
    double lastOld = 0;   // s: the fault to the old host's last message (negative: before it)
    double firstNew = 0;  // s: the fault to the new host's first message
    double right = 0;     // s: first message of the new active host to every screen right
    double both = 0;      // s: the longest time both hosts sent
    int blanks = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

class pair_run {
public:
    pair_run(const namespaces& net, const paths& where, const std::string& folder, unsigned seed)
        : random_(seed) {
        net.enterFacility();
        // Everything below opens its sockets in the facility.
        screens_ = std::make_unique<screens>(io_);
        for (int r = 0; r < router_count; ++r)
            routers_.push_back(fake::makeFakeVideohub(io_, fake::numberedState(router_size, router_size), false, 0,
                                                      facility_address));
        std::array<uint16_t, router_count> ports{};
        for (int r = 0; r < router_count; ++r) ports[r] = routers_[r]->port();
        for (int h = 0; h < 2; ++h) {
            const std::string hostFolder = folder + "/" + host_names[h];
            fs::create_directories(hostFolder);
            hosts_[h] = std::make_unique<host>(h, net.hosts[h], hostFolder, where);
            hosts_[h]->write(ports, screens_->udpPort(), screens_->tcpPort());
        }
    }

    // Both hosts up; true once one of them drives every screen right.
    bool start() {
        for (auto& h : hosts_) h->startServe();
        for (auto& h : hosts_) h->startKeepalived();
        if (!runUntil(io_, [&] { return lastSender() >= 0; }, recovery_limit)) return failed("no host became active");
        active_ = lastSender();
        if (!runUntil(io_, [&] { return wrongScreens() == 0; }, convergence_limit))
            return failed("the screens were not right after the start");
        std::cout << "host " << host_names[active_] << " is active" << std::endl;
        return true;
    }

    bool round(fault kind, round_result& result) {
        result.kind = kind;
        const int old = active_;
        const int next = 1 - old;
        host& from = *hosts_[old];
        const size_t backupsBefore = from.backupEntries();
        const size_t seenBefore = screens_->seen().size();
        // Changes while the old host drives the screens, which it shows.
        change();
        change();
        const size_t changedAt = screens_->seen().size();
        if (!runUntil(io_, [&] { return lastFrom(old, changedAt, steady::now()).has_value(); }, convergence_limit))
            return failed(std::string("host ") + from.name() + " did not show a change before " + faultName(kind));

        const auto faultAt = steady::now();
        switch (kind) {
            case fault::kill_serve: from.killServe(); break;
            case fault::stop_serve: from.signalServe(SIGSTOP); break;
            case fault::stop_keepalived: from.stopKeepalived(); break;
            case fault::link_down: from.link(false); break;
            case fault::reboot: from.crash(); break;
        }
        // Changes during the takeover, which the new host must show.
        auto nextChange = steady::now();
        std::optional<steady::time_point> firstNew;
        const bool tookOver = runUntil(
            io_,
            [&] {
                if (steady::now() >= nextChange) {
                    change();
                    nextChange += std::chrono::milliseconds(100);
                }
                firstNew = firstFrom(next, seenBefore, faultAt);
                return firstNew.has_value();
            },
            takeover_limit);
        if (!tookOver) return failed(std::string("no takeover after ") + faultName(kind));
        const auto lastOld = lastFrom(old, seenBefore, *firstNew);
        if (!lastOld) return failed(std::string("host ") + from.name() + " sent nothing before " + faultName(kind));
        result.gap = seconds(*firstNew - *lastOld).count();
        result.lastOld = seconds(*lastOld - faultAt).count();
        result.firstNew = seconds(*firstNew - faultAt).count();
        if (!runUntil(io_, [&] { return wrongScreens() == 0; }, convergence_limit))
            return failed(std::string("screens not right after ") + faultName(kind));
        result.right = seconds(steady::now() - *firstNew).count();

        const auto recoveredAt = steady::now();
        switch (kind) {
            case fault::kill_serve: from.startServe(); break;
            case fault::stop_serve: from.signalServe(SIGCONT); break;
            case fault::stop_keepalived: from.startKeepalived(); break;
            case fault::link_down: from.link(true); break;
            case fault::reboot:
                from.startKeepalived();
                from.startServe();
                break;
        }
        // The old host comes back as backup and stays so.
        if (!runUntil(io_, [&] { return from.backupEntries() > backupsBefore; }, recovery_limit))
            return failed(std::string("host ") + from.name() + " did not come back as backup after " +
                          faultName(kind));
        change();
        runFor(std::chrono::milliseconds(1500));
        const auto& seen = screens_->seen();
        steady::time_point lastOldSend{};
        for (size_t i = seenBefore; i < seen.size(); ++i)
            if (seen[i].host == old && seen[i].at > *firstNew) lastOldSend = std::max(lastOldSend, seen[i].at);
        if (lastOldSend != steady::time_point{}) {
            // Sent by the old host after the new one began: a stopped serve
            // that resumes may send what it had due before it hears it lost
            // the address; anything later is a host left active.
            result.both = seconds(lastOldSend - std::max(*firstNew, recoveredAt)).count();
            if (kind != fault::stop_serve || lastOldSend > recoveredAt + std::chrono::seconds(1))
                return failed(std::string("host ") + from.name() + " still sends after " + faultName(kind));
        }
        if (!runUntil(io_, [&] { return wrongScreens() == 0; }, convergence_limit))
            return failed(std::string("screens stale after ") + faultName(kind));
        result.blanks = screens_->blanks() - blanksSoFar_;
        blanksSoFar_ = screens_->blanks();
        if (result.blanks > 0) return failed(std::to_string(result.blanks) + " display messages blank");
        active_ = next;
        return true;
    }

    void stop() {
        for (auto& h : hosts_) h->stopAll();
    }
    std::string logs() const { return hosts_[0]->logs() + hosts_[1]->logs(); }
    const std::string& why() const { return why_; }

private:
    bool failed(const std::string& why) {
        why_ = why;
        return false;
    }
    void runFor(std::chrono::milliseconds time) {
        const auto until = steady::now() + time;
        while (steady::now() < until) io_.run_for(std::chrono::milliseconds(5));
    }

    // An operator routes or renames on a router.
    // An operator routes or renames on a router, always so that a display
    // changes: a destination gets another source, or the source routed to
    // a destination is renamed.
    void change() {
        fake::fake_router& router = *routers_[random_() % routers_.size()];
        const int destination = static_cast<int>(random_() % router_size) + 1;
        const int source = router.state().routes[destination - 1];
        if (random_() % 3 == 0) {
            router.setLabel(0, source, "S" + std::to_string(source) + "v" + std::to_string(++renames_ % 1000));
        } else {
            const int other = static_cast<int>(random_() % (router_size - 1)) + 1;
            router.route(destination, other >= source ? other + 1 : other);
        }
    }

    int wrongScreens() const {
        int wrong = 0;
        for (int r = 0; r < router_count; ++r) {
            const fake::router_state& state = routers_[r]->state();
            for (int d = 1; d <= router_size; ++d) {
                const std::string& expected = state.inputLabels[state.routes[d - 1] - 1];
                const std::string* shown = screens_->shows(r, d);
                if (!shown || *shown != expected) ++wrong;
            }
        }
        return wrong;
    }
    int lastSender() const { return screens_->seen().empty() ? -1 : screens_->seen().back().host; }
    std::optional<steady::time_point> firstFrom(int h, size_t from, steady::time_point after) const {
        const auto& seen = screens_->seen();
        for (size_t i = from; i < seen.size(); ++i)
            if (seen[i].host == h && seen[i].at >= after) return seen[i].at;
        return std::nullopt;
    }
    std::optional<steady::time_point> lastFrom(int h, size_t from, steady::time_point before) const {
        const auto& seen = screens_->seen();
        std::optional<steady::time_point> last;
        for (size_t i = from; i < seen.size(); ++i)
            if (seen[i].host == h && seen[i].at <= before) last = seen[i].at;
        return last;
    }

    asio::io_context io_;
    std::unique_ptr<screens> screens_;
    std::vector<std::unique_ptr<fake::fake_router>> routers_;
    std::array<std::unique_ptr<host>, 2> hosts_;
    std::mt19937 random_;
    int active_ = -1;
    int renames_ = 0;
    int blanksSoFar_ = 0;
    std::string why_;
};

void report(const std::vector<round_result>& results) {
    const auto line = [](const std::string& what, std::vector<double> values, const std::string& target) {
        std::cout << "  " << std::left << std::setw(34) << what << std::right << std::fixed << std::setprecision(3)
                  << "median " << percentile(values, 0.5) << " s, p99 " << percentile(values, 0.99) << " s, max "
                  << (values.empty() ? 0 : *std::max_element(values.begin(), values.end())) << " s" << target
                  << "\n";
    };
    for (const std::optional<fault> kind : std::vector<std::optional<fault>>{
             fault::kill_serve, fault::stop_serve, fault::stop_keepalived, fault::link_down, fault::reboot,
             std::nullopt}) {
        std::vector<double> gaps, rights, boths;
        for (const auto& r : results)
            if (!kind || r.kind == *kind) {
                gaps.push_back(r.gap);
                rights.push_back(r.right);
                boths.push_back(r.both);
            }
        if (gaps.empty()) continue;
        std::cout << (kind ? faultName(*kind) : "every takeover") << " (" << gaps.size() << "):\n";
        line("takeover gap", gaps, kind ? "" : "  (target: p99 under 1.5 s)");
        line("every screen right after", rights, kind ? "" : "  (target: within 2 s)");
        line("both hosts sending", boths, "");
    }
}

int usage() {
    std::cerr << "usage: takeover [--rounds N] [--seed N] [--keep-logs FOLDER]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 2;
    unsigned seed = 1;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (option == "--rounds") {
            rounds = std::atoi(value.c_str());
            if (rounds < 1 || rounds > 1000) return usage();
        } else if (option == "--seed") {
            seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (option == "--keep-logs") {
            keep = value;
        } else {
            return usage();
        }
    }
    if (geteuid() != 0) {
        std::cout << "SKIPPED: the takeover test builds network namespaces, which needs root\n";
        return skipped;
    }
    for (const char* program : {"ip", "keepalived", "curl"})
        if (!onPath(program)) {
            std::cout << "SKIPPED: " << program << " is not installed (tools/install-deps tests)\n";
            return skipped;
        }
    // A container may let root list namespaces but not make them.
    const std::string probe = "quonpair-" + std::to_string(getpid()) + "-probe";
    if (shell("ip netns add " + probe) != 0) {
        std::cout << "SKIPPED: this machine does not let ip netns add a network namespace\n";
        return skipped;
    }
    shell("ip netns del " + probe);
    signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/quon-pair-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const paths where{QUON_HOST_PATH, QUON_PAIR_EXAMPLES};
    std::cout << "pair: " << rounds << " rounds of each fault, seed " << seed << ", logs in " << folder << std::endl;

    int status = 0;
    std::vector<round_result> results;
    try {
        namespaces net;
        pair_run run(net, where, folder, seed);
        std::vector<fault> order;
        for (int i = 0; i < rounds; ++i) order.insert(order.end(), faults.begin(), faults.end());
        std::shuffle(order.begin(), order.end(), std::mt19937(seed));
        if (!run.start()) {
            std::cout << "FAIL: " << run.why() << "\n" << run.logs();
            status = 1;
        }
        for (size_t i = 0; status == 0 && i < order.size(); ++i) {
            round_result result;
            if (!run.round(order[i], result)) {
                std::cout << "FAIL in round " << i + 1 << ": " << run.why() << "\n" << run.logs();
                status = 1;
                break;
            }
            std::cout << "round " << i + 1 << ": " << faultName(order[i]) << ": takeover gap " << std::fixed
                      << std::setprecision(3) << result.gap << " s (the fault at 0: the old host's last message at " << result.lastOld
                      << " s, the new host's first at " << result.firstNew << " s), every screen right "
                      << result.right << " s later" << std::endl;
            results.push_back(result);
        }
        run.stop();
    } catch (const std::exception& error) {
        std::cout << "FAIL: " << error.what() << "\n";
        status = 1;
    }
    report(results);
    if (!keep.empty()) {
        std::error_code ignored;
        fs::copy(folder, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    std::cout << (status == 0 ? "PASS" : "FAIL") << ": " << results.size() << " takeovers" << std::endl;
    return status;
}
