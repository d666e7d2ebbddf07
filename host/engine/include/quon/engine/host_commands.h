// The command words a component sends its host: the one table from which
// the command parser, the contract monitor and the documentation check
// read each word's fields and whether its reply is read and handed back.
#ifndef QUON_ENGINE_HOST_COMMANDS_H
#define QUON_ENGINE_HOST_COMMANDS_H

#include <string_view>
#include <vector>

namespace quon {

enum class host_word { PS, TP, TG, XI, HN, SD, RN, RR, RU, RP, ET, AS };

enum class field_kind { none, texts, numbers };

struct host_command_info {
    host_word word;
    const char* text;  // "PS"
    field_kind fields;
    int minFields;
    int maxFields;
    // The component reads the reply and must hand it back (type 5); any
    // other reply stays the host's.
    bool replyRead;
    const char* shape;    // the command as the docs write it
    // What the host does, as docs/scenarios.md's table "Command" says it
    // (Markdown; tests/test_docs.cpp compares the two).
    const char* meaning;
};

// Every word, in the order the docs list them.
const std::vector<host_command_info>& hostCommands();
// The entry of `word`, or null for a word the interface does not have.
const host_command_info* findHostCommand(std::string_view word);
const host_command_info& hostCommand(host_word word);

}  // namespace quon

#endif
