#include "quon/screens/tsl31/tsl31_protocol.h"

#include "quon/screens/tsl31/tsl31_packet.h"

namespace quon {

namespace {

// A message is a whole packet: nothing shares one.
class tsl31_codec final : public screen_codec {
public:
    explicit tsl31_codec(const tsl31_tally_map& tallies) : tallies_(tallies) {}

    void encode(uint16_t, uint16_t index, const std::string& text, const tally_lamps& lamps,
                screen_message& out) const override {
        out.bytes = tsl31Packet(static_cast<uint8_t>(index), tsl31Control(lamps, tallies_), tsl31Text(text));
        out.group = 0;
    }

    void begin(std::string& packet, const screen_message& first) const override { packet = first.bytes; }
    bool append(std::string&, const screen_message&) const override { return false; }
    void finish(std::string&) const override {}

    bool buildsAlike(const screen_codec& other) const override {
        const auto* same = dynamic_cast<const tsl31_codec*>(&other);
        return same && same->tallies_ == tallies_;
    }

private:
    const tsl31_tally_map tallies_;
};

std::unique_ptr<screen_codec> makeTsl31Codec(const umd_config& config) {
    return std::make_unique<tsl31_codec>(config.tally31);
}

}  // namespace

const screen_protocol tsl31_protocol{
    "TSL 3.1", {{"tsl31+udp", umd_transport::udp}}, 126, "address", false, 0, makeTsl31Codec};

}  // namespace quon
