// tsl31_packet: the bytes of TSL UMD 3.1 both ways: one 18-byte message a
// display (0x80 + address, a control byte, 16 characters of text). The
// encoders build what the output sends; the decoder reads what any sender
// may send. Pure functions; any thread.
#ifndef QUON_SCREENS_TSL31_PACKET_H
#define QUON_SCREENS_TSL31_PACKET_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quon/screens/umd_config.h"

namespace quon {

constexpr size_t tsl31_packet_size = 18;
constexpr size_t tsl31_text_size = 16;

// A source name (the host's text policy) as exactly 16 printable ASCII
// characters: the first 16, anything else as '?', padded with blanks.
std::string tsl31Text(std::string_view name);

// The control byte: tallies 1 to 4 in bits 0-3 (a tally is on when the lamp
// `tallies` gives it is any colour but off), brightness in bits 4-5.
uint8_t tsl31Control(const tally_lamps& lamps, const tsl31_tally_map& tallies);
// The message of display `address` (0 to 126).
std::string tsl31Packet(uint8_t address, uint8_t control, std::string_view text16);

struct tsl31_message {
    uint8_t address = 0;  // 0 to 126
    uint8_t control = 0;  // tallies 1 to 4 in bits 0-3, brightness in bits 4-5
    std::string text;     // the 16 characters as sent

    bool tally(int number) const { return number >= 1 && number <= 4 && (control >> (number - 1) & 1) != 0; }
};

// Reads one message. Nothing when it is not one, with `why` saying what is
// wrong: not 18 bytes, or a first byte without its high bit.
std::optional<tsl31_message> decodeTsl31Packet(std::string_view bytes, std::string* why = nullptr);

}  // namespace quon

#endif
