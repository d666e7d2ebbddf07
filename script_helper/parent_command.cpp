#include "quon/script/parent_command.h"

#include <string.h>

#include "quon/script/empty_text.h"

const char quon_empty_text[1] = "";

parentCommand::parentCommand(const char* text) {
    command = quon_empty_text;
    for (const char*& part : sub) part = quon_empty_text;
    value = quon_empty_text;
    subCount = 0;
    hasValue = false;
    buffer = nullptr;

    const size_t length = text ? strlen(text) : 0;
    if (length == 0) return;
    buffer = new char[length + 1];
    memcpy(buffer, text, length + 1);

    bool commandSet = false;
    for (size_t i = 0; i < length; ++i) {
        if (subCount == QUON_COMMAND_MAX_SUBS) break;  // the last sub-part keeps the rest
        const char c = buffer[i];
        if (c != '.' && c != '=') continue;
        if (!commandSet) {
            command = buffer;
            commandSet = true;
        }
        buffer[i] = '\0';
        if (c == '.') {
            sub[subCount++] = buffer + i + 1;
        } else {
            hasValue = true;
            value = buffer + i + 1;
            break;
        }
    }
    if (!commandSet) command = buffer;
}

parentCommand::~parentCommand() { delete[] buffer; }
