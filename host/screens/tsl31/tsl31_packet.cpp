#include "quon/screens/tsl31/tsl31_packet.h"

#include "quon/common/text.h"

namespace quon {

std::string tsl31Text(std::string_view name) {
    const std::u32string characters = systemCharacters(name);
    std::string text(tsl31_text_size, ' ');
    for (size_t i = 0; i < characters.size() && i < tsl31_text_size; ++i) {
        const char32_t c = characters[i];
        text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

uint8_t tsl31Control(const tally_lamps& lamps, const tsl31_tally_map& tallies) {
    unsigned control = (lamps.brightness & 3u) << 4;
    for (size_t tally = 0; tally < tallies.size(); ++tally) {
        lamp_colour colour = lamp_colour::off;
        switch (tallies[tally]) {
            case tally_lamp::none: break;
            case tally_lamp::left: colour = lamps.left; break;
            case tally_lamp::text: colour = lamps.text; break;
            case tally_lamp::right: colour = lamps.right; break;
        }
        if (colour != lamp_colour::off) control |= 1u << tally;
    }
    return static_cast<uint8_t>(control);
}

std::string tsl31Packet(uint8_t address, uint8_t control, std::string_view text16) {
    std::string packet;
    packet.reserve(tsl31_packet_size);
    packet.push_back(static_cast<char>(0x80 + (address & 0x7F)));
    packet.push_back(static_cast<char>(control & 0x3F));
    packet += text16.substr(0, tsl31_text_size);
    packet.resize(tsl31_packet_size, ' ');
    return packet;
}

std::optional<tsl31_message> decodeTsl31Packet(std::string_view bytes, std::string* why) {
    const auto refuse = [why](const char* what) -> std::optional<tsl31_message> {
        if (why) *why = what;
        return std::nullopt;
    };
    if (bytes.size() != tsl31_packet_size) return refuse("not 18 bytes");
    const auto header = static_cast<unsigned char>(bytes[0]);
    if (header < 0x80) return refuse("its first byte is not 0x80 + an address");
    tsl31_message message;
    message.address = static_cast<uint8_t>(header - 0x80);
    message.control = static_cast<uint8_t>(bytes[1]);
    message.text = std::string(bytes.substr(2));
    return message;
}

}  // namespace quon
