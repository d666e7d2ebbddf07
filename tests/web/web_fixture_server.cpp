// Runs a web view on 127.0.0.1 for the browser tests: prints the port on the
// first line of stdout, then applies one JSON command per line of stdin and
// answers each with "ok" (or "error: ..."). Ends when stdin ends.
//
//   {"op":"tile","name":"MON 1","text":"CAM 1", ...every display_state field optional}
//   {"op":"remove","name":"MON 1"}
//   {"op":"order","names":["MON 2","MON 1"]}
//   {"op":"link","device":1,"name":"Router","protocol":"SW-P-08","state":"connected","size":64,"detail":"","missing":[]}
//   {"op":"receivers","list":[{"to":"tsl5+udp://...","state":"sending","detail":"","lastSent":"","packets":0,"errors":0,"down":false}]}
//   {"op":"tallyInputs","list":[{"name":"mixer1","listen":"tsl5+udp://...","up":true,"problem":"","lastPacket":"",
//                                 "packets":0,"unmapped":0,"unreadable":0,"changes":0}]}
//   {"op":"event","text":"...","counted":false}    counted: a line that may come again (a warning)
//   {"op":"role","role":"standby"}                 the host's role in a pair
//   {"op":"many","count":1000,"prefix":"MON ","text":"SRC "}  tiles prefix+i showing text+i
//
// Usage: web_fixture_server [--port N]
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "quon/web/web_view.h"

namespace {

using json = nlohmann::json;

quon::web::display_state tileFrom(const json& command) {
    quon::web::display_state tile;
    tile.name = command.at("name").get<std::string>();
    tile.text = command.value("text", "");
    tile.statesheet = command.value("statesheet", "");
    tile.left = command.value("left", "off");
    tile.centre = command.value("centre", "off");
    tile.right = command.value("right", "off");
    tile.brightness = command.value("brightness", 100);
    tile.notified = command.value("notified", "");
    tile.router = command.value("router", 0);
    tile.routerSilent = command.value("routerSilent", false);
    tile.destination = command.value("destination", 0);
    tile.tslIndex = command.value("tslIndex", -1);
    tile.marked = command.value("marked", "");
    tile.watchProblem = command.value("watchProblem", "");
    tile.tally = command.value("tally", "");
    tile.tallyWhy = command.value("tallyWhy", "");
    return tile;
}

void applyCommand(quon::web::web_view& view, const json& command) {
    const std::string op = command.at("op").get<std::string>();
    if (op == "tile") {
        view.setDisplay(tileFrom(command));
    } else if (op == "remove") {
        view.removeDisplay(command.at("name").get<std::string>());
    } else if (op == "order") {
        view.wallOrder(command.at("names").get<std::vector<std::string>>());
    } else if (op == "link") {
        quon::web::link_state link;
        link.device = command.at("device").get<int>();
        link.name = command.value("name", "");
        link.protocol = command.value("protocol", "");
        link.state = command.value("state", "connected");
        link.size = command.value("size", 0);
        link.detail = command.value("detail", "");
        link.missing = command.value("missing", std::vector<std::string>{});
        link.up = command.value("up", false);
        view.link(link);
    } else if (op == "receivers") {
        std::vector<quon::web::receiver_state> list;
        for (const json& entry : command.at("list")) {
            quon::web::receiver_state r;
            r.to = entry.at("to").get<std::string>();
            r.state = entry.value("state", "idle");
            r.detail = entry.value("detail", "");
            r.lastSent = entry.value("lastSent", "");
            r.packets = entry.value("packets", 0ull);
            r.errors = entry.value("errors", 0ull);
            r.down = entry.value("down", false);
            list.push_back(r);
        }
        view.receivers(list);
    } else if (op == "tallyInputs") {
        std::vector<quon::web::tally_input_state> list;
        for (const json& entry : command.at("list")) {
            quon::web::tally_input_state t;
            t.name = entry.at("name").get<std::string>();
            t.listen = entry.value("listen", "");
            t.up = entry.value("up", false);
            t.problem = entry.value("problem", "");
            t.lastPacket = entry.value("lastPacket", "");
            t.packets = entry.value("packets", 0ull);
            t.unmapped = entry.value("unmapped", 0ull);
            t.unreadable = entry.value("unreadable", 0ull);
            t.changes = entry.value("changes", 0ull);
            list.push_back(t);
        }
        view.tallyInputs(list);
    } else if (op == "event") {
        if (command.value("counted", false))
            view.countedEvent(command.at("text").get<std::string>());
        else
            view.event(command.at("text").get<std::string>());
    } else if (op == "role") {
        view.role(command.at("role").get<std::string>());
    } else if (op == "many") {
        const int count = command.at("count").get<int>();
        const std::string prefix = command.value("prefix", "MON ");
        const std::string text = command.value("text", "SRC ");
        for (int i = 1; i <= count; ++i) {
            quon::web::display_state tile;
            tile.name = prefix + std::to_string(i);
            tile.text = text + std::to_string(i);
            tile.centre = i % 7 == 0 ? "red" : "off";
            tile.router = 1;
            view.setDisplay(tile);
        }
    } else {
        throw std::runtime_error("unknown op \"" + op + "\"");
    }
}

struct stdin_reader {
    stdin_reader(boost::asio::io_context& io, quon::web::web_view& view) : input(io, ::dup(STDIN_FILENO)), view(view) {}

    void read() {
        boost::asio::async_read_until(
            input, buffer, '\n', [this](const boost::system::error_code& failure, std::size_t size) {
                if (failure) {
                    view.stop();
                    return;
                }
                std::string line(boost::asio::buffers_begin(buffer.data()),
                                 boost::asio::buffers_begin(buffer.data()) + static_cast<std::ptrdiff_t>(size));
                buffer.consume(size);
                try {
                    applyCommand(view, json::parse(line));
                    std::cout << "ok" << std::endl;
                } catch (const std::exception& problem) {
                    std::cout << "error: " << problem.what() << std::endl;
                }
                read();
            });
    }

    boost::asio::posix::stream_descriptor input;
    boost::asio::streambuf buffer;
    quon::web::web_view& view;
};

}  // namespace

int main(int argc, char** argv) {
    quon::web::web_settings settings;
    settings.address = "127.0.0.1";
    settings.port = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            settings.port = static_cast<unsigned short>(std::stoi(argv[++i]));
        } else {
            std::cerr << "usage: web_fixture_server [--port N]\n";
            return 2;
        }
    }
    boost::asio::io_context io;
    quon::web::web_view view(io, settings);
    std::string error;
    if (!view.start(error)) {
        std::cerr << "web_fixture_server: " << error << "\n";
        return 1;
    }
    std::cout << view.port() << std::endl;
    stdin_reader reader(io, view);
    reader.read();
    io.run();
    return 0;
}
