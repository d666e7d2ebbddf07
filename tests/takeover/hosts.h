// A host of the pair: its keepalived and its quon-host serve, in its
// namespace, started, faulted and stopped.
#ifndef QUON_TESTS_TAKEOVER_HOSTS
#define QUON_TESTS_TAKEOVER_HOSTS

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "pair_setting.h"
#include "processes.h"

namespace quon::takeover {

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

}  // namespace quon::takeover

#endif
