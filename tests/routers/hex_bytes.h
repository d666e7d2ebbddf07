// Bytes written as hex, for the table tests of binary protocols.
#ifndef QUON_TEST_HEX_BYTES_H
#define QUON_TEST_HEX_BYTES_H

#include <string>

namespace quon::test {

// "FE 00 0E" -> the bytes.
inline std::string hex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3)
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

// The bytes -> "FE 00 0E".
inline std::string showHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace quon::test

#endif
