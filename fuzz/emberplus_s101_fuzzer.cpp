// The S101 reader of the Ember+ link on any bytes: the first byte picks
// where the rest is cut in two; both reads must give the same messages,
// keep-alives and problems. No message is longer than the reader's limit,
// the count of bytes since a good frame never passes what was fed, and every
// message read framed again (in packets) reads back the same.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "quon/routers/emberplus/emberplus_s101.h"

namespace s101 = quon::routers::s101;

namespace {

struct collected : s101::frame_sink {
    std::vector<std::string> events;
    void onMessage(const std::string& ber) override { events.push_back("m" + ber); }
    void onKeepAliveRequest() override { events.push_back("q"); }
    void onKeepAliveResponse() override { events.push_back("r"); }
    void onFrameProblem(s101::problem p) override {
        FUZZ_CHECK(s101::describe(p)[0] != '\0');
        events.push_back("p" + std::to_string(static_cast<int>(p)));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* bytes = data + 1;
    const std::size_t length = size - 1;
    const std::size_t split = length == 0 ? 0 : data[0] % (length + 1);

    s101::reader whole;
    collected wholeEvents;
    whole.feed(bytes, length, wholeEvents);
    FUZZ_CHECK(whole.bytesSinceGoodFrame() <= length);
    s101::reader parts;
    collected partEvents;
    parts.feed(bytes, split, partEvents);
    parts.feed(bytes + split, length - split, partEvents);
    FUZZ_CHECK(wholeEvents.events == partEvents.events);
    FUZZ_CHECK(whole.bytesSinceGoodFrame() == parts.bytesSinceGoodFrame());

    for (const std::string& event : wholeEvents.events) {
        if (event[0] != 'm') continue;
        const std::string ber = event.substr(1);
        FUZZ_CHECK(ber.size() <= s101::max_message_bytes);
        const std::string again = s101::message(ber);
        s101::reader reader;
        collected back;
        reader.feed(reinterpret_cast<const std::uint8_t*>(again.data()), again.size(), back);
        FUZZ_CHECK(back.events.size() == 1 && back.events[0] == event);
    }
    return 0;
}
