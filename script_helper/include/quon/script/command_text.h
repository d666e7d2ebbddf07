// command_text: builds one host command text. Short texts (every numeric
// command) are formatted in place without touching the heap; longer ones
// grow onto it.
#ifndef QUON_COMMAND_TEXT_H
#define QUON_COMMAND_TEXT_H

#include <stddef.h>

class command_text {
public:
    command_text();
    ~command_text();
    command_text(const command_text&) = delete;
    command_text& operator=(const command_text&) = delete;

    command_text& operator<<(const char* text);
    command_text& operator<<(int value);  // decimal, with '-' when negative
    // A blank, then `text` in single quotes, as it is: nothing is escaped.
    command_text& quoted(const char* text);

    const char* text() const { return text_; }
    size_t length() const { return length_; }

private:
    void append(const char* text, size_t length);

    enum { inline_capacity = 95 };
    char* text_;  // inline_ or a heap array of capacity_ + 1
    size_t length_;
    size_t capacity_;
    char inline_[inline_capacity + 1];
};

#endif
