#ifndef QUON_DECIMAL_H
#define QUON_DECIMAL_H

// The value of a decimal text as atoi reads it (leading white space, an
// optional sign, digits up to the first other character; 0 without a
// digit), but clamped to the 32-bit range instead of overflowing. Null
// reads as 0.
int decimalValue(const char* text);

#endif
