// address_tracker on any bytes, as datagrams from the kernel: the first byte
// picks the address watched (IPv4 or IPv6) and where the rest is cut into
// two datagrams. Whatever comes, the tracker tells a role only when it
// changes, and what it tells is what it holds.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "quon/pair/address_tracker.h"

using quon::pair::address_action;

namespace {

struct told {
    bool any = false;
    bool assigned = false;
};

void check(const quon::pair::address_tracker& tracker, const std::vector<address_action>& actions, told& last) {
    for (const address_action& action : actions) {
        if (action.what == address_action::kind::send) FUZZ_CHECK(!action.bytes.empty());
        if (action.what != address_action::kind::assigned && action.what != address_action::kind::unassigned) continue;
        const bool assigned = action.what == address_action::kind::assigned;
        FUZZ_CHECK(action.first == !last.any);
        FUZZ_CHECK(!last.any || last.assigned != assigned);
        FUZZ_CHECK(!action.text.empty());
        last = {true, assigned};
    }
    if (last.any) FUZZ_CHECK(last.assigned == tracker.assigned());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto wanted = (data[0] & 1) ? boost::asio::ip::make_address("2001:db8::50")
                                      : boost::asio::ip::make_address("192.0.2.50");
    quon::pair::address_tracker tracker(wanted);
    told last;
    check(tracker, tracker.start(), last);
    const std::size_t rest = size - 1;
    const std::size_t split = rest == 0 ? 0 : (data[0] >> 1) % (rest + 1);
    check(tracker, tracker.received(data + 1, split), last);
    check(tracker, tracker.received(data + 1 + split, rest - split), last);
    check(tracker, tracker.overrun(), last);
    check(tracker, tracker.dumpAgain(), last);
    return 0;
}
