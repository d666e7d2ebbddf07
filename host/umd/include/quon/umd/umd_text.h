// umd_text: how a source name becomes the text of a display.
//
// Source names are read by the host's one text policy (quon/common/text.h:
// UTF-8 when valid, else Windows-1252). Control characters (U+0000-U+001F,
// U+007F-U+009F) become '?'.
//
// TSL 5 keeps the first tsl5_max_characters characters and sends plain ASCII
// when every kept character is ASCII, UTF-16LE otherwise (characters beyond
// U+FFFF as surrogate pairs). TSL 3.1 keeps the first 16 characters, sends
// printable ASCII only (anything else becomes '?') and pads with blanks.
//
// Pure functions; any thread.
#ifndef QUON_UMD_UMD_TEXT_H
#define QUON_UMD_UMD_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quon {

// The characters of a source name, by the rules above (control characters
// not yet replaced).
std::u32string decodeSourceName(std::string_view name);

// TSL 5 cuts names here: far beyond what an under-monitor display shows,
// and small enough that every display message fits a packet.
constexpr size_t tsl5_max_characters = 64;

// The TEXT field of a TSL 5 display message.
struct tsl5_text {
    std::string bytes;   // ASCII, or UTF-16LE when utf16
    bool utf16 = false;  // FLAGS bit 0 of the packet that carries it

    bool operator==(const tsl5_text& other) const { return bytes == other.bytes && utf16 == other.utf16; }
};
tsl5_text tsl5Text(std::string_view name);

constexpr size_t tsl31_text_size = 16;
// Exactly 16 printable ASCII characters.
std::string tsl31Text(std::string_view name);

}  // namespace quon

#endif
