// The screen protocols' decoders on any bytes: a TSL 5 packet, a TSL 5 TCP
// stream fed whole and cut at a point the first byte picks, a TSL 3.1
// message. Whatever comes, a packet read is exactly its bytes, a stream
// gives the same packets however it is cut, and nothing it gives is beyond
// a packet's size.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "quon/screens/tsl31/tsl31_packet.h"
#include "quon/screens/tsl5/tsl5_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto packet = quon::decodeTsl5Packet(bytes)) {
        size_t carried = quon::tsl5_header_size;
        for (const quon::tsl5_message& message : packet->messages)
            carried += quon::tsl5_message_header_size + message.text.size();
        FUZZ_CHECK(carried == size);
    }

    std::vector<std::string> whole, cut;
    quon::tsl5_stream_reader once, twice;
    once.feed(bytes, whole);
    const size_t at = size == 0 ? 0 : data[0] % (size + 1);
    twice.feed(bytes.substr(0, at), cut);
    twice.feed(bytes.substr(at), cut);
    FUZZ_CHECK(whole == cut);
    for (const std::string& packet : whole) {
        FUZZ_CHECK(packet.size() >= 2 && packet.size() <= quon::tsl5_max_packet_size);
        const size_t count = static_cast<unsigned char>(packet[0]) | static_cast<unsigned char>(packet[1]) << 8;
        FUZZ_CHECK(count + 2 == packet.size());
    }

    const auto message = quon::decodeTsl31Packet(bytes);
    FUZZ_CHECK(message.has_value() == (size == quon::tsl31_packet_size && data[0] >= 0x80));
    if (message) FUZZ_CHECK(message->address <= 127 && message->text.size() == quon::tsl31_text_size);
    return 0;
}
