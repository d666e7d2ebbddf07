// A decoder of TSL UMD 5.0 packets and of the TCP wrapper, written from the
// protocol description, to check the encoders and the senders against.
#ifndef QUON_TEST_TSL_DECODER_H
#define QUON_TEST_TSL_DECODER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct decoded_message {
    uint16_t index = 0;
    uint16_t control = 0;
    int right = 0, text = 0, left = 0, brightness = 0;
    std::string textBytes;
};

struct decoded_packet {
    uint16_t byteCount = 0;
    uint8_t version = 0;
    uint8_t flags = 0;
    uint16_t screen = 0;
    std::vector<decoded_message> messages;
};

inline uint16_t readLittleEndian16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                             << 8);
}

// nullopt when the packet is malformed: a byte count that is not the size,
// a message that runs past the end, a control word with a reserved bit.
inline std::optional<decoded_packet> decodeTsl5(const std::string& bytes) {
    if (bytes.size() < 6) return std::nullopt;
    decoded_packet packet;
    packet.byteCount = readLittleEndian16(bytes, 0);
    if (packet.byteCount != bytes.size() - 2) return std::nullopt;
    packet.version = static_cast<uint8_t>(bytes[2]);
    packet.flags = static_cast<uint8_t>(bytes[3]);
    packet.screen = readLittleEndian16(bytes, 4);
    size_t at = 6;
    while (at < bytes.size()) {
        if (at + 6 > bytes.size()) return std::nullopt;
        decoded_message message;
        message.index = readLittleEndian16(bytes, at);
        message.control = readLittleEndian16(bytes, at + 2);
        if (message.control & 0xFF00) return std::nullopt;
        message.right = message.control & 3;
        message.text = (message.control >> 2) & 3;
        message.left = (message.control >> 4) & 3;
        message.brightness = (message.control >> 6) & 3;
        const uint16_t length = readLittleEndian16(bytes, at + 4);
        if (at + 6 + length > bytes.size()) return std::nullopt;
        message.textBytes = bytes.substr(at + 6, length);
        packet.messages.push_back(message);
        at += 6 + length;
    }
    return packet;
}

// Splits a TCP stream into packets: each starts after DLE/STX (fe 02), and
// fe fe inside stands for one fe. A trailing incomplete packet is left out.
inline std::vector<std::string> unwrapTsl5Stream(const std::string& stream) {
    std::vector<std::string> packets;
    std::optional<std::string> current;
    const auto complete = [](const std::string& packet) {
        return packet.size() >= 2 && readLittleEndian16(packet, 0) == packet.size() - 2;
    };
    for (size_t i = 0; i < stream.size(); ++i) {
        const auto byte = static_cast<unsigned char>(stream[i]);
        if (byte == 0xFE && i + 1 < stream.size()) {
            const auto next = static_cast<unsigned char>(stream[i + 1]);
            if (next == 0x02) {
                if (current && complete(*current)) packets.push_back(*current);
                current = std::string();
                ++i;
                continue;
            }
            if (next == 0xFE) {
                if (current) current->push_back(stream[i]);
                ++i;
                continue;
            }
        }
        if (current) current->push_back(stream[i]);
    }
    if (current && complete(*current)) packets.push_back(*current);
    return packets;
}

// ASCII text as UTF-16LE bytes.
inline std::string utf16le(const std::u16string& text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

inline std::string bytesOf(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

#endif
