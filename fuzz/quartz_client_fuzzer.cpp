// The Quartz reader and client on any bytes a router could send. The first
// byte picks the device file's sizes, the level and where the rest is cut
// in two: the client fed the whole and the client fed both pieces must
// report the same; then time passes, and a keep-alive, a resync, a poll and
// a route request follow. Nothing may crash, what it reports stays within
// the sizes (or the protocol's numbers where none is given), every name is
// safe to show, it goes up at most once, and all it sends is whole
// requests.
#include <chrono>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/label_text.h"
#include "quon/routers/quartz/quartz_client.h"

namespace routers = quon::routers;
namespace qz = quon::routers::quartz;

namespace {

struct checked {
    routers::router_settings settings;
    int ups = 0;
    bool failed = false;

    void check(const routers::router_actions& actions) {
        for (const routers::router_action& action : actions) {
            if (const auto* s = std::get_if<routers::act::send>(&action)) {
                FUZZ_CHECK(!s->bytes.empty() && s->bytes.front() == '.' && s->bytes.back() == '\r');
                for (const char c : s->bytes) FUZZ_CHECK(c == '\r' || (c >= 0x20 && c < 0x7F));
            } else if (const auto* c = std::get_if<routers::act::crosspoint>(&action)) {
                FUZZ_CHECK(c->destination >= 1 && c->destination <= limit(settings.destinations));
                FUZZ_CHECK(c->source >= 1 && c->source <= qz::max_number);
            } else if (const auto* l = std::get_if<routers::act::label>(&action)) {
                FUZZ_CHECK(l->database == routers::source_labels || l->database == routers::destination_labels);
                FUZZ_CHECK(l->index >= 1 &&
                           l->index <=
                               limit(l->database == routers::source_labels ? settings.sources : settings.destinations));
                for (const char ch : l->text) FUZZ_CHECK(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F);
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
    static int limit(int known) { return known > 0 ? known : qz::max_number; }
};

// What the listener could hear of `actions`: all but the timers.
std::vector<routers::router_action> reports(const routers::router_actions& actions) {
    std::vector<routers::router_action> out;
    for (const routers::router_action& action : actions)
        if (!std::holds_alternative<routers::act::arm_timer>(action)) out.push_back(action);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = bytes.empty() ? 0 : (data[0] * 7u) % (bytes.size() + 1);
    routers::router_settings settings;
    routers::quartz_options options;
    settings.sources = data[0] % 4;
    settings.destinations = (data[0] / 4) % 4;
    options.level = "VAB"[(data[0] / 16) % 3];
    const auto start = routers::router_clock::time_point(std::chrono::hours(1));

    checked whole{settings}, parts{settings};
    routers::quartz_client wholeClient(settings, options), partsClient(settings, options);
    routers::router_actions wholeActions, partsActions;
    wholeClient.connected(start, wholeActions);
    partsClient.connected(start, partsActions);
    wholeClient.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), start, wholeActions);
    partsClient.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), split, start, partsActions);
    partsClient.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()) + split, bytes.size() - split, start,
                      partsActions);
    whole.check(wholeActions);
    parts.check(partsActions);
    // Past the flood limit, where the stream is cut decides when it fails.
    if (bytes.size() < 16384) FUZZ_CHECK(reports(wholeActions) == reports(partsActions));

    routers::router_actions later;
    wholeClient.timer(start + options.answerWait, later);
    wholeClient.keepAlive(start + options.answerWait, later);
    wholeClient.resync(start + options.answerWait, later);
    wholeClient.bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), start + options.answerWait,
                      later);
    wholeClient.poll(1, 3, later);
    wholeClient.requestRoute(1, 1, later);
    wholeClient.timer(start + 3 * options.answerWait, later);
    whole.check(later);
    if (!whole.failed) FUZZ_CHECK(whole.ups == 1);
    return 0;
}
