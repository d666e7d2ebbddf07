// A minimal check harness for the Windows test programs, which run under
// Wine where GoogleTest is not built. Ends with "N passed, M failed".
#ifndef QUON_WINDOWS_CHECK_H
#define QUON_WINDOWS_CHECK_H

#include <stdio.h>

#include "text.h"

struct check_results {
    int passed = 0;
    int failed = 0;

    void expect(bool ok, const text& what) {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            puts(("FAILED: " + what).c_str());
        }
    }
    void expectEqual(const text& got, const text& expected, const text& what) {
        expect(got == expected, what + "\n  expected: " + expected + "\n  got:      " + got);
    }
    void expectLines(const text_list& got, const text_list& expected, const text& what) {
        text a, b;
        for (size_t i = 0; i < got.size(); ++i) a += "\n    " + got[i];
        for (size_t i = 0; i < expected.size(); ++i) b += "\n    " + expected[i];
        expect(got == expected, what + "\n  expected:" + b + "\n  got:" + a);
    }
    int finish() {
        // puts, not printf: MinGW's headers make printf their own library's.
        puts((decimal(passed) + " passed, " + decimal(failed) + " failed").c_str());
        return failed ? 1 : 0;
    }
};

#endif
