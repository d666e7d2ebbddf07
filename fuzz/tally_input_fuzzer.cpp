// A tally input on any bytes: the first byte picks the wire (TSL 5 over
// UDP or TCP, TSL 3.1), a screen filter, on_loss and address_base; then
// chunks, each a length byte, a byte of milliseconds to wait, and its
// bytes (a datagram, or a piece of the TCP stream). Whatever comes,
// nothing lights that no map names, as the map names it, each change is a
// change, and the input is up only after a packet it read.
#include <chrono>
#include <cstdint>
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "quon/tally/tally_input.h"

using namespace quon::tally;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t settings = data[0];
    tally_input_config config;
    config.name = "fuzz";
    config.wire = static_cast<tally_wire>(settings % 3);
    if (settings & 0x04) config.screen = static_cast<uint16_t>(settings >> 5);
    config.clearOnLoss = (settings & 0x08) != 0;
    config.addressBase = (settings & 0x10) ? 1 : 0;
    config.timeout = std::chrono::milliseconds(500);
    // An ISO bus on the colour or tally the others leave (amber, tally 3).
    config.iso = 3;
    // Indices 1 to 4 and 9 (and address 126's), on two matrices.
    config.maps.push_back(tally_map{1, 4, point{1, point::end::destination, 10}, {}});
    config.maps.push_back(tally_map{9, 1, point{2, point::end::source, 5}, {}});
    config.maps.push_back(tally_map{126, 1, point{3, point::end::destination, 1}, {}});
    const auto mapped = [](int index) -> std::optional<point> {
        if (index >= 1 && index <= 4) return point{1, point::end::destination, 9 + index};
        if (index == 9) return point{2, point::end::source, 5};
        if (index == 126) return point{3, point::end::destination, 1};
        return std::nullopt;
    };

    tally_input input(config);
    quon::tsl5_stream_reader reader;
    std::map<int, buses> seen;  // by index, as the changes said
    auto now = tally_input::clock::time_point{} + std::chrono::hours(1);
    size_t at = 1;
    while (at < size) {
        const size_t length = data[at];
        const size_t wait = at + 1 < size ? data[at + 1] : 0;
        at += 2;
        const std::string_view chunk(reinterpret_cast<const char*>(data) + std::min(at, size),
                                     std::min(length, size - std::min(at, size)));
        at += length;
        now += std::chrono::milliseconds(wait * 8);
        input_report report;
        input.tick(now, report);
        const uint64_t packetsBefore = input.packets();
        if (config.wire == tally_wire::tsl5_tcp)
            input.stream(reader, chunk, now, report);
        else
            input.packet(chunk, now, report);
        if (report.up) FUZZ_CHECK(*report.up == input.up());
        if (input.packets() == packetsBefore && report.up) FUZZ_CHECK(!*report.up);
        for (const lit& l : report.changes) {
            const auto to = mapped(l.index);
            FUZZ_CHECK(to && l.at == *to && l.input == "fuzz");
            FUZZ_CHECK((l.on & ~(program_bus | preview_bus | iso_bus)) == 0);
            const auto before = seen.find(l.index);
            FUZZ_CHECK((before == seen.end() ? 0 : before->second) != l.on);
            seen[l.index] = l.on;
        }
    }
    for (const lit& l : input.lits()) FUZZ_CHECK(mapped(l.index) && seen[l.index] == l.on);
    return 0;
}
