// parentCommand: a command text such as "level.left=1" split in place into
// a command, up to 32 dot-separated sub-parts and a value.
#ifndef QUON_PARENT_COMMAND_H
#define QUON_PARENT_COMMAND_H

#include "quon_records.h"

class parentCommand : public parentCommandRecord {
public:
    // Parses a private copy of `text` (null allowed); the caller's text is
    // not kept and may be released once the constructor has returned.
    explicit parentCommand(const char* text);
    ~parentCommand();

    parentCommand(const parentCommand&) = delete;
    parentCommand& operator=(const parentCommand&) = delete;
};

// The host reads a parentCommand through the record's layout.
static_assert(sizeof(parentCommand) == sizeof(parentCommandRecord), "parentCommand adds no data to its record");

#endif
