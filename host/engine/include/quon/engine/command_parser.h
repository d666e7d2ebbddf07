// Reads the command texts a component sends to its host: a two-letter
// command word, then fields separated by single blanks; text fields in
// single quotes, numbers in decimal. Inserted texts are not escaped, so the
// one free-form field of a command (the property and value of "TP", the
// text of "HN", the instance of "SD") is found by splitting the fixed
// fields off from the right. The words and their fields come from
// host_commands.h.
//
// Every command of every revertive passes through here, so the parsed
// command holds views into the text and fixed arrays: parsing allocates
// nothing (an error text aside).
#ifndef QUON_ENGINE_COMMAND_PARSER_H
#define QUON_ENGINE_COMMAND_PARSER_H

#include <cstdint>
#include <string>
#include <string_view>

#include "quon/engine/host_commands.h"

namespace quon {

struct host_command {
    // Most fields of any word (host_commands.h).
    static constexpr int max_fields = 3;

    const host_command_info* info = nullptr;  // points into the static table
    std::string_view texts[max_fields];       // the quoted fields, in order; views into the parsed text
    int textCount = 0;
    int numbers[max_fields] = {};  // the numeric fields, in order
    int numberCount = 0;
    bool add = false;  // "RR ... 'ADD'"
};

// The two readings parseHostCommand (below) tries in turn, apart for the
// test that holds them alike. The full reading alone says what is accepted
// and how it is read. The quick one reads only the three commands of a revertive
// ("RN", "TP", "HN") in the shape the component's helper writes them
// (numbers of at most nine digits, no sign; the quoted fields as they
// come) and reads them as the full one does; on anything else it gives up
// (false, `out` undefined) and the full reading decides.
namespace command_reading {
bool quick(std::string_view text, host_command& out);
// The quick reading of "RN device database index": its three numbers (of 1
// to 9 digits, no sign: none a wider reading could read otherwise), or
// false. Inline, as the next: the engine asks it first.
inline bool quickRouterName(std::string_view text, int (&numbers)[host_command::max_fields]) {
    if (text.size() < 5 || text[0] != 'R' || text[1] != 'N' || text[2] != ' ') return false;
    const char* at = text.data() + 3;
    const char* const end = text.data() + text.size();
    for (int field = 0;;) {
        const char* const start = at;
        uint64_t value = 0;
        for (unsigned digit; at != end && (digit = static_cast<unsigned char>(*at) - unsigned{'0'}) < 10; ++at)
            value = value * 10 + digit;
        if (at == start || at - start > 9) return false;
        numbers[field] = static_cast<int>(value);
        if (++field == 3) return at == end;
        if (at == end || *at++ != ' ') return false;
    }
}
// The quick reading of "HN 'text'": its text, or false. Inline, since a
// revertive's notification needs no more (the engine asks it first).
inline bool quickNotification(std::string_view text, std::string_view& notification) {
    if (text.size() < 5 || text[0] != 'H' || text[1] != 'N' || text[2] != ' ' || text[3] != '\'' || text.back() != '\'')
        return false;
    notification = text.substr(4, text.size() - 5);
    return true;
}
bool full(std::string_view text, host_command& out, std::string& error);
}  // namespace command_reading

// False with a one-line reason when `text` is not a well-formed command.
// The views of `out` point into `text`, which must outlive them.
inline bool parseHostCommand(std::string_view text, host_command& out, std::string& error) {
    return command_reading::quick(text, out) || command_reading::full(text, out, error);
}

}  // namespace quon

#endif
