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
//
// The setting is pair_setting.h; the processes of a run processes.h; the
// namespaces namespaces.h; the screens facility.h; the two hosts hosts.h.
// Here: the rounds, each fault and what is checked after it, and the report.
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

#include "facility.h"
#include "fake_routers.h"
#include "hosts.h"
#include "namespaces.h"
#include "pair_setting.h"
#include "processes.h"
#include "run_until.h"

using namespace quon::takeover;
namespace fake = quon::fake;

namespace {

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
