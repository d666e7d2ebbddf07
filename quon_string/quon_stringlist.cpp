#include "quon_stringlist.h"

#include <string.h>

quon_stringlist::quon_stringlist() : items_(nullptr), count_(0), capacity_(0) {}

quon_stringlist::quon_stringlist(const quon_string& text, char sep) : quon_stringlist() {
    const char* start = text;
    if (*start == '\0') return;
    const char* const stop = start + text.length();
    for (;;) {
        const char* end =
            sep ? static_cast<const char*>(memchr(start, sep, static_cast<size_t>(stop - start))) : nullptr;
        quon_string item;
        item.assign(start, static_cast<unsigned>((end ? end : stop) - start));
        *this << item;
        if (!end) return;
        start = end + 1;
    }
}

quon_stringlist::quon_stringlist(const quon_stringlist& other) : quon_stringlist() { *this = other; }

quon_stringlist& quon_stringlist::operator=(const quon_stringlist& other) {
    if (this == &other) return *this;
    quon_string* copy = other.count_ ? new quon_string[other.count_] : nullptr;
    for (unsigned i = 0; i < other.count_; ++i) copy[i] = other.items_[i];
    delete[] items_;
    items_ = copy;
    count_ = capacity_ = other.count_;
    return *this;
}

quon_stringlist::~quon_stringlist() { delete[] items_; }

void quon_stringlist::grow() {
    const unsigned capacity = capacity_ ? capacity_ * 2 : 4;
    quon_string* bigger = new quon_string[capacity];
    for (unsigned i = 0; i < count_; ++i) bigger[i] = items_[i];
    delete[] items_;
    items_ = bigger;
    capacity_ = capacity;
}

quon_stringlist& quon_stringlist::operator<<(const quon_string& item) {
    if (count_ == capacity_) {
        const quon_string copy(item);  // `item` may live in the array that grows
        grow();
        items_[count_++] = copy;
    } else {
        items_[count_++] = item;
    }
    return *this;
}

quon_string quon_stringlist::toString(char sep) const {
    quon_string result;
    unsigned length = count_ ? count_ - 1 : 0;
    for (unsigned i = 0; i < count_; ++i) length += items_[i].length_;
    result.reserve(length);
    const char separator[2] = {sep, '\0'};
    for (unsigned i = 0; i < count_; ++i) {
        if (i) result += separator;
        result += items_[i];
    }
    return result;
}
