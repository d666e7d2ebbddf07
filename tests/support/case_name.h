// A parameterised case's name made from the text it tests, for the name
// generators of INSTANTIATE_TEST_SUITE_P: test names allow only letters,
// digits and '_', and two texts must never make one name.
#ifndef QUON_TEST_CASE_NAME_H
#define QUON_TEST_CASE_NAME_H

#include <string>
#include <string_view>

// Letters and digits as they are, every other byte as '_' and two hex
// digits ("5 s" -> "5_20s"), the empty text as "Empty".
inline std::string caseName(std::string_view text) {
    if (text.empty()) return "Empty";
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) {
            name += c;
        } else {
            name += '_';
            name += hex[byte >> 4];
            name += hex[byte & 0xF];
        }
    }
    return name;
}

#endif
