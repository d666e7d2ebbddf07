#include "quon/umd/tsl_packet.h"

namespace quon {

namespace {

void appendLittleEndian16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

constexpr char dle = static_cast<char>(0xFE);
constexpr char stx = 0x02;

}  // namespace

uint16_t tsl5Control(const tally_lamps& lamps) {
    return static_cast<uint16_t>(static_cast<unsigned>(lamps.right) | static_cast<unsigned>(lamps.text) << 2 |
                                 static_cast<unsigned>(lamps.left) << 4 | (lamps.brightness & 3u) << 6);
}

void beginTsl5Packet(std::string& packet, uint16_t screen, bool utf16) {
    packet.clear();
    appendLittleEndian16(packet, 0);  // PBC, written by finishTsl5Packet
    packet.push_back(0);              // VER
    packet.push_back(utf16 ? 1 : 0);  // FLAGS
    appendLittleEndian16(packet, screen);
}

void appendTsl5Message(std::string& packet, uint16_t index, const tally_lamps& lamps, const tsl5_text& text) {
    appendLittleEndian16(packet, index);
    appendLittleEndian16(packet, tsl5Control(lamps));
    appendLittleEndian16(packet, static_cast<uint16_t>(text.bytes.size()));
    packet += text.bytes;
}

void finishTsl5Packet(std::string& packet) {
    const size_t following = packet.size() - 2;
    packet[0] = static_cast<char>(following & 0xFF);
    packet[1] = static_cast<char>(following >> 8);
}

std::string tsl5Packet(uint16_t screen, uint16_t index, const tally_lamps& lamps, const tsl5_text& text) {
    std::string packet;
    packet.reserve(tsl5_header_size + tsl5MessageSize(text));
    beginTsl5Packet(packet, screen, text.utf16);
    appendTsl5Message(packet, index, lamps, text);
    finishTsl5Packet(packet);
    return packet;
}

void appendTsl5StreamFrame(std::string& stream, std::string_view packet) {
    stream.push_back(dle);
    stream.push_back(stx);
    for (const char byte : packet) {
        stream.push_back(byte);
        if (byte == dle) stream.push_back(dle);
    }
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

}  // namespace quon
