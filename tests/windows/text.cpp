#include "text.h"

#include <stdio.h>
#include <string.h>

text::text(const char* value) {
    if (!value) value = "";
    size_ = strlen(value);
    chars_ = new char[size_ + 1];
    memcpy(chars_, value, size_ + 1);
}

text& text::operator=(const text& other) {
    if (this != &other) {
        char* copy = new char[other.size_ + 1];
        memcpy(copy, other.chars_, other.size_ + 1);
        delete[] chars_;
        chars_ = copy;
        size_ = other.size_;
    }
    return *this;
}

text::~text() { delete[] chars_; }

text& text::operator+=(const char* more) {
    const size_t extra = more ? strlen(more) : 0;
    char* joined = new char[size_ + extra + 1];
    memcpy(joined, chars_, size_);
    if (extra) memcpy(joined + size_, more, extra);
    joined[size_ + extra] = '\0';
    delete[] chars_;
    chars_ = joined;
    size_ += extra;
    return *this;
}

bool operator==(const text& a, const text& b) { return a.size() == b.size() && strcmp(a.c_str(), b.c_str()) == 0; }

text operator+(const text& a, const text& b) {
    text joined(a);
    joined += b;
    return joined;
}

text operator+(const text& a, const char* b) {
    text joined(a);
    joined += b;
    return joined;
}

text operator+(const char* a, const text& b) {
    text joined(a);
    joined += b;
    return joined;
}

text decimal(long value) {
    // msvcrt.dll's _snprintf, which both builds have, leaves the buffer
    // unterminated when it is full; "-2147483648" leaves room to spare.
    char digits[24] = {};
    _snprintf(digits, sizeof digits - 1, "%ld", value);
    return text(digits);
}

text_list::text_list(const text_list& other) : text_list() {
    for (size_t i = 0; i < other.size_; ++i) push_back(other.items_[i]);
}

text_list& text_list::operator=(const text_list& other) {
    if (this != &other) {
        text_list copy(other);
        text* items = items_;
        items_ = copy.items_;
        copy.items_ = items;
        size_t size = size_;
        size_ = copy.size_;
        copy.size_ = size;
        size_t capacity = capacity_;
        capacity_ = copy.capacity_;
        copy.capacity_ = capacity;
    }
    return *this;
}

text_list::~text_list() { delete[] items_; }

void text_list::push_back(const text& item) {
    if (size_ == capacity_) {
        const size_t capacity = capacity_ ? capacity_ * 2 : 8;
        text* items = new text[capacity];
        for (size_t i = 0; i < size_; ++i) items[i] = items_[i];
        delete[] items_;
        items_ = items;
        capacity_ = capacity;
    }
    items_[size_++] = item;
}

bool operator==(const text_list& a, const text_list& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}
