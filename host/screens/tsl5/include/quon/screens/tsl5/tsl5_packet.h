// tsl5_packet: the bytes of TSL UMD 5.0 both ways: display messages and the
// packets that carry them, the DLE/STX framing of TSL 5 on a TCP stream, and
// how a source name becomes a message's TEXT. docs/umd.md describes the
// layout. The encoders build what the output sends; the decoders read what
// any sender may send (tally inputs, the tests' fake screens). Pure
// functions and plain values; any thread.
#ifndef QUON_SCREENS_TSL5_PACKET_H
#define QUON_SCREENS_TSL5_PACKET_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quon/screens/umd_config.h"

namespace quon {

// A whole packet, its byte count included, never exceeds this.
constexpr size_t tsl5_max_packet_size = 2048;
constexpr size_t tsl5_header_size = 6;          // PBC, VER, FLAGS, SCREEN
constexpr size_t tsl5_message_header_size = 6;  // INDEX, CONTROL, LENGTH
constexpr uint16_t tsl5_all_screens = 0xFFFF;
constexpr uint16_t tsl5_broadcast_index = 0xFFFF;

// Names are cut here: far beyond what an under-monitor display shows, and
// small enough that every display message fits a packet.
constexpr size_t tsl5_max_characters = 64;

// The TEXT field of a display message.
struct tsl5_text {
    std::string bytes;   // ASCII, or UTF-16LE when utf16
    bool utf16 = false;  // FLAGS bit 0 of the packet that carries it

    bool operator==(const tsl5_text& other) const { return bytes == other.bytes && utf16 == other.utf16; }
};
// A source name (the host's text policy, quon/common/text.h) as TEXT: its
// first tsl5_max_characters characters, control characters as '?', plain
// ASCII when every one is ASCII, UTF-16LE otherwise (beyond U+FFFF as
// surrogate pairs).
tsl5_text tsl5Text(std::string_view name);

// CONTROL of a display message: right tally in bits 0-1, text tally in
// bits 2-3, left tally in bits 4-5, brightness in bits 6-7.
uint16_t tsl5Control(const tally_lamps& lamps);

// Builds a packet of one or more display messages of one screen and one
// text encoding: begin, append each message, then finish (writes PBC).
void beginTsl5Packet(std::string& packet, uint16_t screen, bool utf16);
void appendTsl5Message(std::string& packet, uint16_t index, const tally_lamps& lamps, const tsl5_text& text);
void finishTsl5Packet(std::string& packet);
// The size a message adds to a packet.
inline size_t tsl5MessageSize(const tsl5_text& text) { return tsl5_message_header_size + text.bytes.size(); }

// A packet of one display message.
std::string tsl5Packet(uint16_t screen, uint16_t index, const tally_lamps& lamps, const tsl5_text& text);

// Appends `packet` to a TCP stream: DLE/STX (fe 02), then the packet with
// every fe doubled.
void appendTsl5StreamFrame(std::string& stream, std::string_view packet);

// One message of a packet as read.
struct tsl5_message {
    uint16_t index = 0;
    uint16_t control = 0;  // as sent; bit 15 set: control data, not a display
    std::string text;      // the TEXT bytes as sent (ASCII or UTF-16LE, by the packet's flags)

    bool controlData() const { return (control & 0x8000) != 0; }
    // The lamps and brightness of a display message.
    tally_lamps lamps() const;
};

struct tsl5_packet {
    uint8_t version = 0;
    uint8_t flags = 0;  // bit 0: TEXT is UTF-16LE
    uint16_t screen = 0;
    std::vector<tsl5_message> messages;
};

// Reads one packet (a UDP datagram, or one unframed from a stream). Nothing
// when it is not one, with `why` saying what is wrong: shorter than a
// header, a byte count that is not its size, a message that runs past the
// end.
std::optional<tsl5_packet> decodeTsl5Packet(std::string_view bytes, std::string* why = nullptr);

// Takes the packets out of a TCP stream fed in pieces split at any byte:
// each begins after DLE/STX, a doubled fe stands for one, and it ends when
// its byte count is reached. Bytes outside a packet are skipped; a packet
// that would grow beyond tsl5_max_packet_size is dropped.
class tsl5_stream_reader {
public:
    // Appends to `packets` every packet `bytes` completes, unframed.
    void feed(std::string_view bytes, std::vector<std::string>& packets);

private:
    std::string current_;
    bool inPacket_ = false;
    bool escaped_ = false;  // the last byte was a DLE not yet understood
};

}  // namespace quon

#endif
