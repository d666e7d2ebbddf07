// Symbol visibility of the string library, which ships as its own shared
// library (libquon_string.so, quon_string.dll) and is imported by modules.
#ifndef QUON_STRING_EXPORT_H
#define QUON_STRING_EXPORT_H

#if defined(_WIN32)
#if defined(QUON_STRING_BUILD)
#define QUON_STRING_API __declspec(dllexport)
#else
#define QUON_STRING_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUON_STRING_API __attribute__((visibility("default")))
#else
#define QUON_STRING_API
#endif

#endif
