// The network namespaces of a run: the facility and the two hosts on one
// bridge.
#ifndef QUON_TESTS_TAKEOVER_NAMESPACES
#define QUON_TESTS_TAKEOVER_NAMESPACES

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "pair_setting.h"
#include "processes.h"

namespace quon::takeover {

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

}  // namespace quon::takeover

#endif
