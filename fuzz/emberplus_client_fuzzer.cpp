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
#include "quon/links/emberplus_client.h"
#include "quon/links/emberplus_glow.h"
#include "quon/links/emberplus_s101.h"

namespace links = quon::links;

namespace {

constexpr int max_signals = 65536;

// A provider may act on the first request of a message only.
struct one_request_a_message : links::s101::frame_sink {
    void onMessage(const std::string& ber) override {
        std::vector<links::glow::element> elements;
        std::string error;
        FUZZ_CHECK(links::glow::decode(ber, elements, error));
        int requests = 0;
        for (const links::glow::element& e : elements)
            if (e.what == links::glow::kind::command || e.connections) ++requests;
        FUZZ_CHECK(requests <= 1);
    }
    void onKeepAliveRequest() override {}
    void onKeepAliveResponse() override {}
    void onFrameProblem(links::s101::problem) override { FUZZ_CHECK(false); }
};

void check(const links::link_actions& actions) {
    for (const links::link_action& action : actions) {
        if (const auto* s = std::get_if<links::act::send>(&action)) {
            one_request_a_message sink;
            links::s101::reader reader;
            reader.feed(reinterpret_cast<const std::uint8_t*>(s->bytes.data()), s->bytes.size(), sink);
        }
        if (const auto* m = std::get_if<links::act::missing>(&action)) FUZZ_CHECK(!m->text.empty());
        if (const auto* c = std::get_if<links::act::crosspoint>(&action)) {
            FUZZ_CHECK(c->destination >= 1 && c->destination <= max_signals);
            FUZZ_CHECK(c->source >= 0 && c->source <= max_signals);
        } else if (const auto* l = std::get_if<links::act::label>(&action)) {
            FUZZ_CHECK(l->index >= 1 && l->index <= max_signals);
            FUZZ_CHECK(l->database == links::source_labels || l->database == links::destination_labels);
        } else if (const auto* u = std::get_if<links::act::up>(&action)) {
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
        links::link_settings settings;
        settings.matrixPath = matrix;
        links::emberplus_client client(settings);
        auto now = links::link_clock::time_point(std::chrono::hours(1));
        links::link_actions actions;
        client.connected(now, actions);
        check(actions);
        for (const std::string& ber : messages) {
            const std::string wire = links::s101::message(ber);
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
