#include "quon_string.h"

#include <limits.h>
#include <string.h>

namespace {

unsigned textLength(const char* text) { return text ? static_cast<unsigned>(strlen(text)) : 0; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at `p` as a magnitude with sign, clamped to 32 bits.
int readDigits(const char* p, bool negative) {
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

// Writes `value` in `base` right-aligned into `out` (at least 34 chars
// before `end`); returns the first character written.
char* formatInt(int value, int base, char* end) {
    if (base < 2 || base > 36) base = 10;
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    // 32 bits hold every magnitude of an int, INT_MIN's too; 64-bit division
    // would need a helper that the Windows C runtime DLL does not export.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char* p = end;
    do {
        *--p = digits[magnitude % static_cast<unsigned>(base)];
        magnitude /= static_cast<unsigned>(base);
    } while (magnitude != 0);
    if (value < 0) *--p = '-';
    return p;
}

// Finds the lowest-numbered marker "%1".."%9" in `text`; 0 when none.
char lowestMarker(const char* text, unsigned length) {
    char lowest = 0;
    for (unsigned i = 0; i + 1 < length; ++i) {
        const char d = text[i + 1];
        if (text[i] == '%' && d >= '1' && d <= '9' && (lowest == 0 || d < lowest)) lowest = d;
    }
    return lowest;
}

}  // namespace

quon_string::quon_string() : text_(inline_), length_(0), capacity_(inline_capacity) { inline_[0] = '\0'; }

quon_string::quon_string(const char* text) : quon_string() { assign(text, textLength(text)); }

quon_string::quon_string(const quon_string& other) : quon_string() { assign(other.text_, other.length_); }

quon_string::quon_string(int value, char fill, unsigned width, int base) : quon_string() {
    char digits[40];
    char* end = digits + sizeof digits;
    const char* first = formatInt(value, base, end);
    const unsigned count = static_cast<unsigned>(end - first);
    if (width > count) {
        reserve(width);
        memset(text_, fill ? fill : ' ', width - count);
        length_ = width - count;
        text_[length_] = '\0';
    }
    append(first, count);
}

quon_string::~quon_string() {
    if (text_ != inline_) delete[] text_;
}

quon_string& quon_string::operator=(const quon_string& other) {
    if (this != &other) assign(other.text_, other.length_);
    return *this;
}

quon_string& quon_string::operator=(const char* text) {
    // `text` may point into this string; copy before letting go of it.
    if (text >= text_ && text <= text_ + length_) {
        const quon_string copy(text);
        return *this = copy;
    }
    assign(text, textLength(text));
    return *this;
}

quon_string& quon_string::operator+=(const quon_string& other) {
    if (this == &other) {
        const quon_string copy(other);
        append(copy.text_, copy.length_);
    } else {
        append(other.text_, other.length_);
    }
    return *this;
}

quon_string& quon_string::operator+=(const char* text) {
    if (text >= text_ && text <= text_ + length_) {
        const quon_string copy(text);
        return *this += copy;
    }
    append(text, textLength(text));
    return *this;
}

void quon_string::reserve(unsigned capacity) {
    if (capacity <= capacity_) return;
    // Grow geometrically so repeated appends stay linear.
    unsigned grown = capacity_ * 2;
    if (grown < capacity) grown = capacity;
    char* bigger = new char[grown + 1];
    memcpy(bigger, text_, length_ + 1);
    if (text_ != inline_) delete[] text_;
    text_ = bigger;
    capacity_ = grown;
}

void quon_string::assign(const char* text, unsigned length) {
    if (length > capacity_) {
        char* bigger = new char[length + 1];
        if (text_ != inline_) delete[] text_;
        text_ = bigger;
        capacity_ = length;
    }
    if (length) memcpy(text_, text, length);
    length_ = length;
    text_[length_] = '\0';
}

void quon_string::append(const char* text, unsigned length) {
    if (length == 0) return;
    reserve(length_ + length);
    memcpy(text_ + length_, text, length);
    length_ += length;
    text_[length_] = '\0';
}

quon_string quon_string::arg(const quon_string& value) const {
    const char marker = lowestMarker(text_, length_);
    if (!marker) return *this;
    quon_string result;
    unsigned occurrences = 0;
    for (unsigned i = 0; i + 1 < length_; ++i)
        if (text_[i] == '%' && text_[i + 1] == marker) ++occurrences;
    result.reserve(length_ + occurrences * value.length_);
    unsigned start = 0;
    for (unsigned i = 0; i + 1 < length_;) {
        if (text_[i] == '%' && text_[i + 1] == marker) {
            result.append(text_ + start, i - start);
            result.append(value.text_, value.length_);
            i += 2;
            start = i;
        } else {
            ++i;
        }
    }
    result.append(text_ + start, length_ - start);
    return result;
}

quon_string quon_string::arg(int value, char fill, unsigned width, int base) const {
    return arg(quon_string(value, fill, width, base));
}

int quon_string::toInt() const {
    const char* p = text_;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (!isDigit(*p)) return -1;
    return readDigits(p, negative);
}

int quon_string::firstInt() const {
    for (const char* p = text_; *p; ++p) {
        if (isDigit(*p)) return readDigits(p, p > text_ && p[-1] == '-');
    }
    return -1;
}

int quon_string::split(char sep, quon_string& left, quon_string& right) const {
    const char* found = static_cast<const char*>(memchr(text_, sep, length_));
    if (!found || sep == '\0') {
        left = *this;
        right = "";
        return -1;
    }
    const quon_string whole(*this);  // `left` or `right` may be this string
    const unsigned position = static_cast<unsigned>(found - text_);
    left.assign(whole.text_, position);
    right.assign(whole.text_ + position + 1, whole.length_ - position - 1);
    return static_cast<int>(position);
}

bool operator==(const quon_string& a, const char* b) { return strcmp(a, b ? b : "") == 0; }
bool operator!=(const quon_string& a, const quon_string& b) { return !(a == static_cast<const char*>(b)); }

quon_string operator+(const quon_string& a, const quon_string& b) {
    quon_string result(a);
    result += b;
    return result;
}
quon_string operator+(const quon_string& a, const char* b) {
    quon_string result(a);
    result += b;
    return result;
}
quon_string operator+(const char* a, const quon_string& b) {
    quon_string result(a);
    result += b;
    return result;
}
