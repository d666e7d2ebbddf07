#include "quon/script/quon_script_helper.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <stdio.h>
#endif

void quon_script_helper::debug(const quon_string& format, const quon_string& a1, const quon_string& a2,
                               const quon_string& a3, const quon_string& a4, const quon_string& a5,
                               const quon_string& a6, const quon_string& a7, const quon_string& a8,
                               const quon_string& a9) {
    const quon_string text = format.arg(a1).arg(a2).arg(a3).arg(a4).arg(a5).arg(a6).arg(a7).arg(a8).arg(a9);
#if defined(_WIN32)
    OutputDebugStringA(text);
#else
    // Standard error, one text a line, written in one call so that texts of
    // several components never interleave within a line.
    fprintf(stderr, "%s\n", static_cast<const char*>(text));
#endif
}
