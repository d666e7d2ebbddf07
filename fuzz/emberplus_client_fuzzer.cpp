// The Ember+ client on any Glow a provider could send: the bytes are cut
// into messages at each 00 00 00 00 and each is framed as S101 would carry
// it; the client walks, reads and goes up on whatever it makes of them
// (with time passing between messages), for each way of naming the matrix.
// Nothing may crash, what it reports stays within the matrix (host
// numbers from 1, source 0 for none, up to the most the link takes), and
// every message it sends holds one request at most.
#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/emberplus/emberplus_client.h"
#include "quon/routers/emberplus/emberplus_glow.h"
#include "quon/routers/emberplus/emberplus_s101.h"

namespace routers = quon::routers;

namespace {

constexpr int max_signals = 65536;

// A provider may act on the first request of a message only.
struct one_request_a_message : routers::s101::frame_sink {
    void onMessage(const std::string& ber) override {
        std::vector<routers::glow::element> elements;
        std::string error;
        FUZZ_CHECK(routers::glow::decode(ber, elements, error));
        int requests = 0;
        for (const routers::glow::element& e : elements)
            if (e.what == routers::glow::kind::command || e.connections) ++requests;
        FUZZ_CHECK(requests <= 1);
    }
    void onKeepAliveRequest() override {}
    void onKeepAliveResponse() override {}
    void onFrameProblem(routers::s101::problem) override { FUZZ_CHECK(false); }
};

void check(const routers::router_actions& actions) {
    for (const routers::router_action& action : actions) {
        if (const auto* s = std::get_if<routers::act::send>(&action)) {
            one_request_a_message sink;
            routers::s101::reader reader;
            reader.feed(reinterpret_cast<const std::uint8_t*>(s->bytes.data()), s->bytes.size(), sink);
        }
        if (const auto* m = std::get_if<routers::act::missing>(&action)) FUZZ_CHECK(!m->text.empty());
        if (const auto* c = std::get_if<routers::act::crosspoint>(&action)) {
            FUZZ_CHECK(c->destination >= 1 && c->destination <= max_signals);
            FUZZ_CHECK(c->source >= 0 && c->source <= max_signals);
        } else if (const auto* l = std::get_if<routers::act::label>(&action)) {
            FUZZ_CHECK(l->index >= 1 && l->index <= max_signals);
            FUZZ_CHECK(l->database == routers::source_labels || l->database == routers::destination_labels);
        } else if (const auto* u = std::get_if<routers::act::up>(&action)) {
            FUZZ_CHECK(u->sources >= 0 && u->sources <= max_signals);
            FUZZ_CHECK(u->destinations >= 0 && u->destinations <= max_signals);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> messages;
    const std::string cut(4, '\0');
    for (std::size_t at = 0; at <= input.size();) {
        const std::size_t end = input.find(cut, at);
        messages.push_back(input.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + cut.size();
    }
    for (const char* matrix : {"", "0.1.0", "router/matrices/video"}) {
        routers::emberplus_options options;
        std::string why;
        routers::parseMatrixPath(matrix, options.matrix, why);
        routers::emberplus_client client(routers::router_settings{}, options);
        auto now = routers::router_clock::time_point(std::chrono::hours(1));
        routers::router_actions actions;
        client.connected(now, actions);
        check(actions);
        for (const std::string& ber : messages) {
            const std::string wire = routers::s101::message(ber);
            actions.clear();
            client.bytes(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size(), now, actions);
            check(actions);
            now += std::chrono::milliseconds(400);
            actions.clear();
            client.timer(now, actions);
            check(actions);
            actions.clear();
            client.resync(now, actions);
            client.keepAlive(now, actions);
            client.requestRoute(1, 1, actions);
            client.poll(1, 70000, actions);
            check(actions);
        }
    }
    return 0;
}
