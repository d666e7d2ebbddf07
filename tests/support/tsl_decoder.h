// TSL UMD 5.0 packets and the TCP wrapper as the tests read them: through
// the protocol's own decoders (quon/screens/tsl5/tsl5_packet.h, which the
// tally inputs read senders with), held to what our senders must send. The
// encoders are checked against bytes written out from the protocol
// description in test_umd_packets.cpp, and the decoders there too.
#ifndef QUON_TEST_TSL_DECODER_H
#define QUON_TEST_TSL_DECODER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quon/screens/tsl5/tsl5_packet.h"

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

// nullopt when the packet is malformed (decodeTsl5Packet refuses it) or
// is not what our senders send: a control word with a reserved bit or
// control data.
inline std::optional<decoded_packet> decodeTsl5(const std::string& bytes) {
    const std::optional<quon::tsl5_packet> read = quon::decodeTsl5Packet(bytes);
    if (!read) return std::nullopt;
    decoded_packet packet;
    packet.byteCount = readLittleEndian16(bytes, 0);
    packet.version = read->version;
    packet.flags = read->flags;
    packet.screen = read->screen;
    for (const quon::tsl5_message& in : read->messages) {
        if (in.control & 0xFF00) return std::nullopt;
        decoded_message message;
        message.index = in.index;
        message.control = in.control;
        const quon::tally_lamps lamps = in.lamps();
        message.right = static_cast<int>(lamps.right);
        message.text = static_cast<int>(lamps.text);
        message.left = static_cast<int>(lamps.left);
        message.brightness = lamps.brightness;
        message.textBytes = in.text;
        packet.messages.push_back(message);
    }
    return packet;
}

// The packets of a whole TCP stream, unframed as tsl5_stream_reader does; a
// trailing incomplete packet is left out.
inline std::vector<std::string> unwrapTsl5Stream(const std::string& stream) {
    std::vector<std::string> packets;
    quon::tsl5_stream_reader reader;
    reader.feed(stream, packets);
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
