#include "quon/screens/tsl5/tsl5_packet.h"

#include "quon/common/text.h"

namespace quon {

namespace {

void appendLittleEndian16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

uint16_t readLittleEndian16(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
}

constexpr char dle = static_cast<char>(0xFE);
constexpr char stx = 0x02;

bool isControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

tsl5_text tsl5Text(std::string_view name) {
    std::u32string characters = systemCharacters(name);
    if (characters.size() > tsl5_max_characters) characters.resize(tsl5_max_characters);
    tsl5_text text;
    for (char32_t& c : characters) {
        if (isControlCharacter(c)) c = U'?';
        if (c >= 0x80) text.utf16 = true;
    }
    if (!text.utf16) {
        text.bytes.assign(characters.begin(), characters.end());
        return text;
    }
    text.bytes.reserve(characters.size() * 2);
    const auto appendUnit = [&text](uint32_t unit) {
        text.bytes.push_back(static_cast<char>(unit & 0xFF));
        text.bytes.push_back(static_cast<char>(unit >> 8));
    };
    for (const char32_t c : characters) {
        if (c < 0x10000) {
            appendUnit(c);
        } else {
            const uint32_t offset = c - 0x10000;
            appendUnit(0xD800 + (offset >> 10));
            appendUnit(0xDC00 + (offset & 0x3FF));
        }
    }
    return text;
}

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

tally_lamps tsl5_message::lamps() const {
    tally_lamps lamps;
    lamps.right = static_cast<lamp_colour>(control & 3);
    lamps.text = static_cast<lamp_colour>((control >> 2) & 3);
    lamps.left = static_cast<lamp_colour>((control >> 4) & 3);
    lamps.brightness = static_cast<uint8_t>((control >> 6) & 3);
    return lamps;
}

std::optional<tsl5_packet> decodeTsl5Packet(std::string_view bytes, std::string* why) {
    const auto refuse = [why](const char* what) -> std::optional<tsl5_packet> {
        if (why) *why = what;
        return std::nullopt;
    };
    if (bytes.size() < tsl5_header_size) return refuse("shorter than a packet header");
    if (readLittleEndian16(bytes, 0) != bytes.size() - 2) return refuse("its byte count is not its size");
    tsl5_packet packet;
    packet.version = static_cast<uint8_t>(bytes[2]);
    packet.flags = static_cast<uint8_t>(bytes[3]);
    packet.screen = readLittleEndian16(bytes, 4);
    size_t at = tsl5_header_size;
    while (at < bytes.size()) {
        if (at + tsl5_message_header_size > bytes.size()) return refuse("a message header runs past the end");
        tsl5_message message;
        message.index = readLittleEndian16(bytes, at);
        message.control = readLittleEndian16(bytes, at + 2);
        const uint16_t length = readLittleEndian16(bytes, at + 4);
        at += tsl5_message_header_size;
        if (at + length > bytes.size()) return refuse("a message's text runs past the end");
        message.text = std::string(bytes.substr(at, length));
        at += length;
        packet.messages.push_back(std::move(message));
    }
    return packet;
}

void tsl5_stream_reader::feed(std::string_view bytes, std::vector<std::string>& packets) {
    const auto take = [&](char byte) {
        if (!inPacket_) return;
        current_.push_back(byte);
        if (current_.size() >= 2 && readLittleEndian16(current_, 0) == current_.size() - 2) {
            packets.push_back(current_);
            inPacket_ = false;
        } else if (current_.size() > tsl5_max_packet_size) {
            inPacket_ = false;
        }
    };
    for (const char byte : bytes) {
        if (escaped_) {
            escaped_ = false;
            if (byte == stx) {
                current_.clear();
                inPacket_ = true;
                continue;
            }
            take(dle);
            // A doubled DLE is one data byte; a lone one is taken as data,
            // and so is the byte after it.
            if (byte == dle) continue;
        } else if (byte == dle) {
            escaped_ = true;
            continue;
        }
        take(byte);
    }
}

}  // namespace quon
