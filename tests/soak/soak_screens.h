// What a TSL 5 screen of the soak reads from a packet: each display
// message, its index and its text.
#ifndef QUON_TESTS_SOAK_SOAK_SCREENS_H
#define QUON_TESTS_SOAK_SOAK_SCREENS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tsl_decoder.h"

namespace quon::test {

// The receivers here see ASCII names only; anything else shows as '?'.
inline std::string tsl5Text(const std::uint8_t* bytes, std::size_t size, bool utf16) {
    std::string text;
    if (!utf16) return std::string(reinterpret_cast<const char*>(bytes), size);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const unsigned unit = bytes[i] | bytes[i + 1] << 8;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// One TSL 5 packet (PBC onwards): every display message in it, index and
// text.
inline std::vector<std::pair<int, std::string>> readTsl5(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::pair<int, std::string>> messages;
    const auto packet = decodeTsl5(std::string(reinterpret_cast<const char*>(bytes), size));
    if (!packet) return messages;
    const bool utf16 = packet->flags & 1;
    for (const decoded_message& message : packet->messages)
        messages.emplace_back(message.index, tsl5Text(reinterpret_cast<const std::uint8_t*>(message.textBytes.data()),
                                                      message.textBytes.size(), utf16));
    return messages;
}

}  // namespace quon::test

#endif
