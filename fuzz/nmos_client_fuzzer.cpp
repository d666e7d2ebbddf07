// The NMOS client on any bytes a registry could send. The first byte picks
// the device file's sizes and lists, where the bytes go and where they are
// cut in two: as the answer to the versions request, to the receivers'
// subscription, to the first page of senders; or, after a whole start (a
// read and both WebSockets' opening), as the receivers' or the senders'
// WebSocket's frames. The client fed the whole
// and the client fed both pieces must report the same (but for the states
// between grains of one piece, told together); then time passes
// and a keep-alive, a resync and a poll follow. Nothing may crash, what it
// reports stays within the numbers it has, every label is safe to show, it
// goes up at most once, and all it sends is an HTTP request or a masked
// frame.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/label_text.h"
#include "quon/routers/nmos/nmos_client.h"
#include "quon/routers/nmos/nmos_wire.h"

namespace routers = quon::routers;
namespace nmos = quon::routers::nmos;

namespace {

const std::string ok_versions = "HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\n[\"v1.2/\",\"v1.3/\"]";
const std::string subscribed_body = R"({"id":"5b000000-0000-4000-8000-000000000001","ws_href":"ws://127.0.0.1:80/ws/1"})";
const std::string senders_body =
    R"([{"id":"5e000000-0000-4000-8000-000000000001","label":"CAM 1"},{"id":"5e000000-0000-4000-8000-000000000002","label":"CAM 2"}])";
const std::string receivers_body =
    R"([{"id":"7e000000-0000-4000-8000-000000000001","label":"MON A","subscription":{"sender_id":"5e000000-0000-4000-8000-000000000002","active":true}}])";

std::string answer(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

struct checked {
    int sources = 0, destinations = 0;
    int ups = 0;
    bool failed = false;
    std::string key;  // the last WebSocket key sent

    void check(const routers::router_actions& actions) {
        for (const routers::router_action& action : actions) {
            if (const auto* s = std::get_if<routers::act::send>(&action)) {
                const std::string& b = s->bytes;
                const bool http = b.rfind("GET /", 0) == 0 || b.rfind("POST /", 0) == 0;
                const bool frame = b.size() >= 6 && (static_cast<unsigned char>(b[0]) & 0x80) &&
                                   (static_cast<unsigned char>(b[1]) & 0x80);
                FUZZ_CHECK(http || frame);
                const std::size_t at = b.find("Sec-WebSocket-Key: ");
                if (http && at != std::string::npos) key = b.substr(at + 19, 24);
            } else if (const auto* c = std::get_if<routers::act::crosspoint>(&action)) {
                FUZZ_CHECK(c->destination >= 1 && c->destination <= destinations);
                FUZZ_CHECK(c->source >= 0 && c->source <= sources);
            } else if (const auto* l = std::get_if<routers::act::label>(&action)) {
                const bool source = l->database == routers::source_labels;
                FUZZ_CHECK(source || l->database == routers::destination_labels);
                FUZZ_CHECK(l->index >= 1 && l->index <= (source ? sources : destinations));
                FUZZ_CHECK(routers::cleanLabel(l->text).text == l->text);
            } else if (std::holds_alternative<routers::act::up>(action)) {
                FUZZ_CHECK(++ups == 1);
            } else if (std::holds_alternative<routers::act::fail>(action)) {
                failed = true;
            } else if (const auto* p = std::get_if<routers::act::problem>(&action)) {
                FUZZ_CHECK(!p->cause.empty() && !p->text.empty());
            }
        }
    }
};

// What the client reported but routes and labels, in order; and the
// routes and labels it left shown. The grains of one read of a socket are
// told together, so how the bytes were cut may skip a state between two
// grains, never change where they lead.
struct told {
    std::vector<routers::router_action> others;
    std::map<int, int> routes;
    std::map<std::pair<int, int>, std::string> labels;
    bool operator==(const told& other) const {
        return others == other.others && routes == other.routes && labels == other.labels;
    }
};

// `out`: what was shown before, and the reports after it.
told reports(const routers::router_actions& actions, told out = {}) {
    out.others.clear();
    for (const routers::router_action& action : actions) {
        if (const auto* c = std::get_if<routers::act::crosspoint>(&action))
            out.routes[c->destination] = c->source;
        else if (const auto* l = std::get_if<routers::act::label>(&action))
            out.labels[{l->database, l->index}] = l->text;
        else if (!std::holds_alternative<routers::act::arm_timer>(action))
            out.others.push_back(action);
    }
    return out;
}

void feed(routers::two_channel_client& client, const std::string& bytes, routers::router_clock::time_point now,
          routers::router_actions& out, bool second = false) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (second)
        client.secondBytes(data, bytes.size(), now, out);
    else
        client.bytes(data, bytes.size(), now, out);
}

std::string upgraded(const std::string& key) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nSec-WebSocket-Accept: " +
           nmos::webSocketAccept(key) + "\r\n\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = bytes.empty() ? 0 : (data[0] * 7u) % (bytes.size() + 1);
    const int where = data[0] % 4;  // 0 versions, 1 subscription, 2 senders' page, 3 a WebSocket
    const bool second = where == 3 && (data[0] & 0x40);  // the senders' WebSocket
    routers::router_settings settings;
    settings.jitterSeed = 1;
    nmos::nmos_options options;
    if (data[0] & 0x10) {
        options.sendersListed = options.receiversListed = true;
        options.senders = {"CAM 2", "5e000000-0000-4000-8000-000000000001", "none"};
        options.receivers = {"MON A", "MON B"};
    }
    if (data[0] & 0x20) settings.destinations = 1;
    const auto start = routers::router_clock::time_point(std::chrono::hours(1));

    checked whole, parts;
    // Numbers within the lists, or within what a read may hold.
    for (checked* c : {&whole, &parts}) {
        c->sources = options.sendersListed ? 3 : static_cast<int>(nmos::max_resources);
        c->destinations = settings.destinations > 0 ? settings.destinations : options.receiversListed ? 2 : static_cast<int>(nmos::max_resources);
    }
    nmos::nmos_client wholeClient(settings, options), partsClient(settings, options);
    routers::router_actions wholeActions, partsActions;
    told shown;  // what the start showed, the same for both
    for (auto* run : {&wholeActions, &partsActions}) {
        routers::two_channel_client& client = run == &wholeActions ? wholeClient : partsClient;
        checked& c = run == &wholeActions ? whole : parts;
        const auto keep = [&] {
            if (run == &wholeActions) shown = reports(*run, shown);
        };
        client.connected(start, *run);
        if (where >= 1) feed(client, ok_versions, start, *run);
        if (where >= 2) {
            feed(client, answer(201, subscribed_body), start, *run);
            feed(client, answer(201, subscribed_body), start, *run);
        }
        if (where >= 3) {
            feed(client, answer(200, senders_body), start, *run);
            feed(client, answer(200, receivers_body), start, *run);
            c.check(*run);
            keep();
            run->clear();
            client.connected(start, *run);
            c.check(*run);
            feed(client, upgraded(c.key), start, *run);
            client.secondConnected(start, *run);
            c.check(*run);
            feed(client, upgraded(c.key), start, *run, true);
        }
        c.check(*run);
        keep();
        run->clear();
    }
    feed(wholeClient, bytes, start, wholeActions, second);
    feed(partsClient, bytes.substr(0, split), start, partsActions, second);
    feed(partsClient, bytes.substr(split), start, partsActions, second);
    whole.check(wholeActions);
    parts.check(partsActions);
    FUZZ_CHECK(reports(wholeActions, shown) == reports(partsActions, shown));

    routers::router_actions later;
    const auto then = start + settings.connectTimeout;
    wholeClient.timer(then, later);
    wholeClient.keepAlive(then, later);
    wholeClient.resync(then, later);
    wholeClient.poll(1, 3, later);
    FUZZ_CHECK(!wholeClient.requestRoute(1, 1, later));
    whole.check(later);
    return 0;
}
