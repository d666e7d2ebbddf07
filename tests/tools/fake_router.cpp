// fake_router: a fake Videohub, SW-P-08, Ember+ or Quartz router, or NMOS registry, on the loopback interface,
// for tests that drive a whole program (quon-host serve, browser tests).
//
//   fake_router videohub|swp08|emberplus|quartz|nmos [--port N] [--sources N] [--destinations N]
//               [--names-per-message N] [--requests all|first-only|labels-never] [--names numbered|unnumbered]
//               [--node-return MS] [--certificate PEM --key PEM]
//
// --requests (Ember+): act on every request of a message, on the first
// element of its Root only, or on all but those for labels, never answered.
// --names (Quartz): names answered with their number or without.
// --node-return (NMOS): how long after a registry restart its node
// registers again (3000 ms unless given).
// --certificate and --key: served over TLS with this certificate (chain)
// and private key, both PEM files; an NMOS registry's subscriptions that
// ask for it are then wss://.
// Prints the port it listens on as the first line of standard output, then
// reads commands, one a line, from standard input:
//   route D S            an operator routes source S to destination D
//   label in|out I TEXT  an operator renames input or output I
//   silent on|off        stop answering (connections stay open) / resume
//   drop                 close every client connection
//   restart S D          the router restarts with S inputs and D outputs,
//                        numbered and routed as at start; clients are dropped
//   restart              (NMOS) the registry restarts: clients dropped, it
//                        comes back empty, the node registers again later
//   expire               (NMOS) the node's registration expires
//   node-restart         (NMOS) the node restarts, its receivers unconnected
//   quit                 exit (so does the end of standard input)
// Each command is answered "ok" or "error: ..." on standard output.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>

#include "fake_routers.h"

namespace {

int usage() {
    std::cerr << "usage: fake_router videohub|swp08|emberplus|quartz|nmos [--port N] [--sources N] [--destinations N] "
                 "[--names-per-message N] [--requests all|first-only|labels-never] [--names numbered|unnumbered] "
                 "[--node-return MS] [--certificate PEM --key PEM]\n";
    return 2;
}

class command_reader {
public:
    // `registry` is the router when it is an NMOS registry.
    command_reader(boost::asio::io_context& io, quon::fake::fake_router& router,
                   quon::fake::fake_nmos_registry* registry)
        : io_(io), input_(io, ::dup(STDIN_FILENO)), router_(router), registry_(registry) {}

    void read() {
        boost::asio::async_read_until(input_, buffer_, '\n',
                                      [this](const boost::system::error_code& error, std::size_t) {
                                          if (error) {
                                              io_.stop();
                                              return;
                                          }
                                          std::istream stream(&buffer_);
                                          std::string line;
                                          std::getline(stream, line);
                                          if (!run(line)) {
                                              io_.stop();
                                              return;
                                          }
                                          read();
                                      });
    }

private:
    static void reply(const std::string& text) { std::cout << text << std::endl; }

    // False on quit.
    bool run(const std::string& line) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        try {
            if (command == "quit") return false;
            if (command.empty()) return true;
            if (command == "route") {
                int destination = 0, source = 0;
                if (!(words >> destination >> source)) throw std::invalid_argument("route D S");
                if (destination < 1 || destination > static_cast<int>(router_.state().routes.size()))
                    throw std::invalid_argument("no destination " + std::to_string(destination));
                if (source < 1 || source > static_cast<int>(router_.state().inputLabels.size()))
                    throw std::invalid_argument("no source " + std::to_string(source));
                router_.route(destination, source);
            } else if (command == "label") {
                std::string database;
                int index = 0;
                if (!(words >> database >> index) || (database != "in" && database != "out"))
                    throw std::invalid_argument("label in|out I TEXT");
                const auto& labels = database == "in" ? router_.state().inputLabels : router_.state().outputLabels;
                if (index < 1 || index > static_cast<int>(labels.size()))
                    throw std::invalid_argument("no " + database + "put " + std::to_string(index));
                std::string text;
                std::getline(words >> std::ws, text);
                router_.setLabel(database == "in" ? 0 : 1, index, text);
            } else if (command == "silent") {
                std::string state;
                words >> state;
                if (state != "on" && state != "off") throw std::invalid_argument("silent on|off");
                router_.setSilent(state == "on");
            } else if (command == "drop") {
                router_.dropConnections();
            } else if (command == "restart" && registry_ && (words >> std::ws).eof()) {
                registry_->restartRegistry();
            } else if (command == "expire" && registry_) {
                registry_->expireNode();
            } else if (command == "node-restart" && registry_) {
                registry_->restartNode();
            } else if (command == "restart") {
                int sources = 0, destinations = 0;
                if (!(words >> sources >> destinations) || sources < 1 || destinations < 1)
                    throw std::invalid_argument("restart S D");
                router_.restart(quon::fake::numberedState(sources, destinations));
            } else {
                throw std::invalid_argument("unknown command " + command);
            }
            reply("ok");
        } catch (const std::exception& error) {
            reply(std::string("error: ") + error.what());
        }
        return true;
    }

    boost::asio::io_context& io_;
    boost::asio::posix::stream_descriptor input_;
    boost::asio::streambuf buffer_;
    quon::fake::fake_router& router_;
    quon::fake::fake_nmos_registry* registry_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string protocol = argv[1];
    if (protocol != "videohub" && protocol != "swp08" && protocol != "emberplus" && protocol != "quartz" &&
        protocol != "nmos")
        return usage();
    int port = 0, sources = 16, destinations = 16, namesPerMessage = quon::fake::names_as_many_as_fit;
    int nodeReturn = 3000;
    std::string certificate, key;
    quon::fake::emberplus_requests requests = quon::fake::emberplus_requests::all;
    quon::fake::quartz_names names = quon::fake::quartz_names::numbered;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string text = argv[i + 1];
        const int value = std::atoi(argv[++i]);
        if (option == "--requests" && protocol == "emberplus") {
            if (text == "all")
                requests = quon::fake::emberplus_requests::all;
            else if (text == "first-only")
                requests = quon::fake::emberplus_requests::first_only;
            else if (text == "labels-never")
                requests = quon::fake::emberplus_requests::labels_never;
            else
                return usage();
        } else if (option == "--names" && protocol == "quartz" && (text == "numbered" || text == "unnumbered")) {
            names = text == "numbered" ? quon::fake::quartz_names::numbered : quon::fake::quartz_names::unnumbered;
        } else if (option == "--port" && value >= 0 && value <= 65535) {
            port = value;
        } else if (option == "--sources" && value > 0 && value <= 65536) {
            sources = value;
        } else if (option == "--destinations" && value > 0 && value <= 65536) {
            destinations = value;
        } else if (option == "--names-per-message" && protocol == "swp08" && value >= 1 && value <= 32) {
            namesPerMessage = value;
        } else if (option == "--node-return" && protocol == "nmos" && value >= 0) {
            nodeReturn = value;
        } else if (option == "--certificate" && !text.empty()) {
            certificate = text;
        } else if (option == "--key" && !text.empty()) {
            key = text;
        } else {
            return usage();
        }
    }
    boost::asio::io_context io;
    const quon::fake::router_state state = quon::fake::numberedState(sources, destinations);
    const auto listenPort = static_cast<std::uint16_t>(port);
    std::unique_ptr<quon::fake::fake_nmos_registry> registry =
        protocol == "nmos" ? quon::fake::makeFakeNmos(io, state, listenPort, 100, std::chrono::milliseconds(nodeReturn))
                           : nullptr;
    std::unique_ptr<quon::fake::fake_router> router =
        protocol == "videohub" ? quon::fake::makeFakeVideohub(io, state, false, listenPort)
        : protocol == "swp08"  ? quon::fake::makeFakeSwp08(io, state, listenPort, namesPerMessage)
        : protocol == "quartz" ? quon::fake::makeFakeQuartz(io, state, listenPort, names)
        : protocol == "nmos"
            ? nullptr
            : quon::fake::makeFakeEmberplus(io, state, listenPort, 100, std::chrono::milliseconds(0), requests);
    quon::fake::fake_router& serving = registry ? *registry : *router;
    if (certificate.empty() != key.empty()) return usage();
    if (!certificate.empty()) serving.serveTls(certificate, key);
    std::cout << serving.port() << std::endl;
    command_reader commands(io, serving, registry.get());
    commands.read();
    io.run();
    return 0;
}
