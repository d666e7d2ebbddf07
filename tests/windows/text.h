// Owned texts and lists of texts for the Windows test programs. The
// Microsoft ABI build has no C++ standard library (only the C runtime DLL),
// so nothing here uses one.
#ifndef QUON_WINDOWS_TEXT_H
#define QUON_WINDOWS_TEXT_H

#include <stddef.h>

class text {
public:
    text() : text("") {}
    text(const char* value);  // null gives an empty text
    text(const text& other) : text(other.chars_) {}
    text& operator=(const text& other);
    ~text();

    text& operator+=(const char* more);
    text& operator+=(const text& more) { return *this += more.chars_; }

    const char* c_str() const { return chars_; }
    size_t size() const { return size_; }

private:
    char* chars_;
    size_t size_;
};

bool operator==(const text& a, const text& b);
inline bool operator!=(const text& a, const text& b) { return !(a == b); }
text operator+(const text& a, const text& b);
text operator+(const text& a, const char* b);
text operator+(const char* a, const text& b);
text decimal(long value);

class text_list {
public:
    text_list() : items_(nullptr), size_(0), capacity_(0) {}
    text_list(const text_list& other);
    text_list& operator=(const text_list& other);
    ~text_list();

    void push_back(const text& item);
    size_t size() const { return size_; }
    const text& operator[](size_t i) const { return items_[i]; }

private:
    text* items_;
    size_t size_;
    size_t capacity_;
};

bool operator==(const text_list& a, const text_list& b);

inline void appendLines(text_list&) {}
template <class... Rest>
void appendLines(text_list& list, const char* first, Rest... rest) {
    list.push_back(first);
    appendLines(list, rest...);
}

// A list of the given lines, for expectations: lines("ET 1", "AS").
template <class... Items>
text_list lines(Items... items) {
    text_list list;
    appendLines(list, items...);
    return list;
}

#endif
