// decodeQUONString: a host reply split into at most 32 blank-separated
// tokens; a quote character encloses a token that may hold blanks.
#ifndef QUON_DECODE_QUON_STRING_H
#define QUON_DECODE_QUON_STRING_H

class decodeQUONString {
public:
    enum { max_tokens = 32 };

    // Decodes a private copy of `text` (null allowed); the caller's text
    // is not modified and may be released once the constructor returned.
    decodeQUONString(const char* text, char quote);
    virtual ~decodeQUONString();

    decodeQUONString(const decodeQUONString&) = delete;
    decodeQUONString& operator=(const decodeQUONString&) = delete;

    // Slots below `count` point into `buffer`, valid while the object
    // lives; the others point at a shared constant empty text.
    const char* tokens[max_tokens];
    int count;
    char* buffer;  // owned; null when the text was null or empty
    char quote;
};

#endif
