// quon_string: the text value of the string library.
//
// Texts never contain NUL; the characters are always NUL-terminated and
// stay valid, unmodified, while the object lives and is not assigned to.
// Numbers are read and written in the "C" manner whatever the process
// locale is.
#ifndef QUON_STRING_H
#define QUON_STRING_H

#include "quon_string_export.h"

class QUON_STRING_API quon_string {
public:
    quon_string();
    quon_string(const char* text);  // copy of `text`; null gives an empty text
    quon_string(const quon_string& other);
    // The text of `value` in `base` (2 to 36, else 10), at least `width`
    // characters, filled on the left with `fill` (a blank when `fill` is 0).
    quon_string(int value, char fill, unsigned width, int base);
    virtual ~quon_string();

    quon_string& operator=(const quon_string& other);
    quon_string& operator=(const char* text);
    quon_string& operator+=(const quon_string& other);
    quon_string& operator+=(const char* text);

    // A copy in which every occurrence of the lowest-numbered marker still
    // present ("%1" to "%9") is replaced by the argument. Without a marker
    // the copy is unchanged.
    quon_string arg(const quon_string& value) const;
    quon_string arg(int value, char fill, unsigned width, int base) const;

    int length() const { return static_cast<int>(length_); }

    // Optional leading blanks, an optional sign, decimal digits; what
    // follows the digits is ignored. -1 when no digit follows. Values
    // beyond 32 bits are clamped.
    int toInt() const;
    // The first run of decimal digits anywhere in the text, negative when
    // a '-' stands directly before it ("x40y" gives 40). -1 when the text
    // has no digit. Values beyond 32 bits are clamped.
    int firstInt() const;

    // `left` receives the text before the first `sep`, `right` the text
    // after it. Without `sep`, `left` is the whole text and `right` empty.
    // Returns the position of the separator, or -1.
    int split(char sep, quon_string& left, quon_string& right) const;

    operator const char*() const { return text_; }

private:
    friend class quon_stringlist;
    enum { inline_capacity = 23 };

    void assign(const char* text, unsigned length);
    void append(const char* text, unsigned length);
    void reserve(unsigned capacity);

    char* text_;  // inline_ or a heap array of capacity_ + 1
    unsigned length_;
    unsigned capacity_;  // characters that fit before the terminator
    char inline_[inline_capacity + 1];
};

QUON_STRING_API bool operator==(const quon_string& a, const char* b);
QUON_STRING_API bool operator!=(const quon_string& a, const quon_string& b);
QUON_STRING_API quon_string operator+(const quon_string& a, const quon_string& b);
QUON_STRING_API quon_string operator+(const quon_string& a, const char* b);
QUON_STRING_API quon_string operator+(const char* a, const quon_string& b);

#endif
