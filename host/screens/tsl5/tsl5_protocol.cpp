#include "quon/screens/tsl5/tsl5_protocol.h"

#include "quon/screens/tsl5/tsl5_packet.h"

namespace quon {

namespace {

// A message's bytes are INDEX, CONTROL, LENGTH and TEXT; its group is its
// screen and its text encoding, which the packet header carries.
class tsl5_codec final : public screen_codec {
public:
    explicit tsl5_codec(bool batch) : batch_(batch) {}

    void encode(uint16_t screen, uint16_t index, const std::string& text, const tally_lamps& lamps,
                screen_message& out) const override {
        const tsl5_text encoded = tsl5Text(text);
        out.bytes.clear();
        appendTsl5Message(out.bytes, index, lamps, encoded);
        out.group = static_cast<uint32_t>(screen) << 1 | (encoded.utf16 ? 1u : 0u);
    }

    void begin(std::string& packet, const screen_message& first) const override {
        beginTsl5Packet(packet, static_cast<uint16_t>(first.group >> 1), (first.group & 1) != 0);
        packet += first.bytes;
    }

    bool append(std::string& packet, const screen_message& next) const override {
        if (!batch_ || next.group != groupOf(packet) || packet.size() + next.bytes.size() > tsl5_max_packet_size)
            return false;
        packet += next.bytes;
        return true;
    }

    void finish(std::string& packet) const override { finishTsl5Packet(packet); }

    void frame(std::string& stream, std::string_view packet) const override { appendTsl5StreamFrame(stream, packet); }

    bool buildsAlike(const screen_codec& other) const override {
        const auto* same = dynamic_cast<const tsl5_codec*>(&other);
        return same && same->batch_ == batch_;
    }

private:
    static uint32_t groupOf(const std::string& packet) {
        const auto byte = [&packet](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(packet[at])); };
        return (byte(4) | byte(5) << 8) << 1 | (byte(3) & 1);
    }

    const bool batch_;
};

std::unique_ptr<screen_codec> makeTsl5Codec(const umd_config& config) {
    return std::make_unique<tsl5_codec>(config.batch);
}

}  // namespace

// 0xFFFF addresses every screen and every display: never one display's.
const screen_protocol tsl5_protocol{
    "TSL 5", {{"tsl5+udp", umd_transport::udp}, {"tsl5+tcp", umd_transport::tcp}}, 65534, "index", true, 65534,
    makeTsl5Codec};

}  // namespace quon
