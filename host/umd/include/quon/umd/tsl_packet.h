// tsl_packet: the bytes of TSL UMD 5.0 and 3.1 packets, and the TCP wrapper
// of TSL 5. docs/umd.md describes the layouts. Packets are byte strings
// (std::string). Pure functions; any thread.
#ifndef QUON_UMD_TSL_PACKET_H
#define QUON_UMD_TSL_PACKET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quon/umd/umd_config.h"
#include "quon/umd/umd_text.h"

namespace quon {

// TSL 5: a whole packet, its byte count included, never exceeds this.
constexpr size_t tsl5_max_packet_size = 2048;
constexpr size_t tsl5_header_size = 6;         // PBC, VER, FLAGS, SCREEN
constexpr size_t tsl5_message_header_size = 6;  // INDEX, CONTROL, LENGTH
constexpr uint16_t tsl5_all_screens = 0xFFFF;
constexpr uint16_t tsl5_broadcast_index = 0xFFFF;

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

// TSL 3.1: the control byte (tallies 1 to 4 in bits 0-3, brightness in bits
// 4-5) and the 18-byte datagram. `address` is 0 to 126.
constexpr size_t tsl31_packet_size = 18;
uint8_t tsl31Control(const tally_lamps& lamps, const tsl31_tally_map& tallies);
std::string tsl31Packet(uint8_t address, uint8_t control, std::string_view text16);

}  // namespace quon

#endif
