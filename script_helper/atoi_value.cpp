#include "quon/script/atoi_value.h"

#include <limits.h>

int atoiValue(const char* text) {
    if (!text) return 0;
    const char* p = text;
    // White space as the "C" locale's isspace has it, whatever the locale.
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}
