#ifndef QUON_EMPTY_TEXT_H
#define QUON_EMPTY_TEXT_H

// The one shared, constant empty text that unset fields of parsed-text
// records point at. Nobody owns or releases it.
extern const char quon_empty_text[1];

#endif
