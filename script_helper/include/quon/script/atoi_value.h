#ifndef QUON_ATOI_VALUE_H
#define QUON_ATOI_VALUE_H

// The value of a decimal text as atoi reads it (leading white space, an
// optional sign, digits up to the first other character; 0 without a
// digit), but clamped to the 32-bit range instead of overflowing. Null
// reads as 0.
int atoiValue(const char* text);

#endif
