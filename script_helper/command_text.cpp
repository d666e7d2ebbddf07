#include "quon/script/command_text.h"

#include <string.h>

command_text::command_text() : text_(inline_), length_(0), capacity_(inline_capacity) { inline_[0] = '\0'; }

command_text::~command_text() {
    if (text_ != inline_) delete[] text_;
}

void command_text::append(const char* text, size_t length) {
    if (length_ + length > capacity_) {
        size_t capacity = capacity_ * 2;
        if (capacity < length_ + length) capacity = length_ + length;
        char* bigger = new char[capacity + 1];
        memcpy(bigger, text_, length_);
        if (text_ != inline_) delete[] text_;
        text_ = bigger;
        capacity_ = capacity;
    }
    memcpy(text_ + length_, text, length);
    length_ += length;
    text_[length_] = '\0';
}

command_text& command_text::operator<<(const char* text) {
    append(text, strlen(text));
    return *this;
}

command_text& command_text::operator<<(int value) {
    char digits[12];  // "-2147483648" and room to spare
    char* const end = digits + sizeof digits;
    char* p = end;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--p = '-';
    append(p, static_cast<size_t>(end - p));
    return *this;
}

command_text& command_text::quoted(const char* text) {
    append(" '", 2);
    *this << text;
    append("'", 1);
    return *this;
}
