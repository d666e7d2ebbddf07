// Reads the command texts a component sends to its host: a two-letter
// command word, then fields separated by single blanks; text fields in
// single quotes, numbers in decimal. Inserted texts are not escaped, so the
// one free-form field of a command (the property and value of "TP", the
// text of "HN", the instance of "SD") is found by splitting the fixed
// fields off from the right. The words and their fields come from
// host_commands.h.
#ifndef QUON_ENGINE_COMMAND_PARSER_H
#define QUON_ENGINE_COMMAND_PARSER_H

#include <string>
#include <vector>

#include "quon/engine/host_commands.h"

namespace quon {

struct host_command {
    const host_command_info* info = nullptr;  // points into the static table
    std::vector<std::string> texts;           // the quoted fields, in order
    std::vector<int> numbers;                 // the numeric fields, in order
    bool add = false;                         // "RR ... 'ADD'"
};

// False with a one-line reason when `text` is not a well-formed command.
bool parseHostCommand(const std::string& text, host_command& out, std::string& error);

}  // namespace quon

#endif
