#include "quon/script/decode_quon_string.h"

#include <string.h>

#include "quon/script/empty_text.h"

decodeQUONString::decodeQUONString(const char* text, char quoteCharacter)
    : count(0), buffer(nullptr), quote(quoteCharacter) {
    for (const char*& token : tokens) token = quon_empty_text;

    const size_t length = text ? strlen(text) : 0;
    if (length == 0) return;
    buffer = new char[length + 1];
    memcpy(buffer, text, length + 1);

    // `last` is the slot of the token begun last; it becomes the count.
    int last = 0;
    tokens[0] = buffer;
    bool inQuote = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = buffer[i];
        const bool afterSeparator = i > 0 && buffer[i - 1] == '\0';
        bool beginsToken;
        if (c == quote) {
            // Closing an empty pair of quotes yields one empty token.
            beginsToken = inQuote && afterSeparator;
        } else if (c == ' ' && !inQuote) {
            beginsToken = false;
        } else {
            beginsToken = afterSeparator;
        }
        if (beginsToken && last == max_tokens - 1) break;

        if (c == quote) {
            buffer[i] = '\0';
            inQuote = !inQuote;
        } else if (c == ' ' && !inQuote) {
            buffer[i] = '\0';
        }
        if (beginsToken) tokens[++last] = buffer + i;
    }
    count = last + 1;
}

decodeQUONString::~decodeQUONString() { delete[] buffer; }
