// A minimal check harness for the Windows test programs, which run under
// Wine where GoogleTest is not built. Ends with "N passed, M failed".
#ifndef QUON_WINDOWS_CHECK_H
#define QUON_WINDOWS_CHECK_H

#include <cstdio>
#include <string>
#include <vector>

struct check_results {
    int passed = 0;
    int failed = 0;

    void expect(bool ok, const std::string& what) {
        if (ok) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED: %s\n", what.c_str());
        }
    }
    void expectEqual(const std::string& got, const std::string& expected, const std::string& what) {
        expect(got == expected, what + "\n  expected: " + expected + "\n  got:      " + got);
    }
    void expectLines(const std::vector<std::string>& got, const std::vector<std::string>& expected,
                     const std::string& what) {
        std::string a, b;
        for (const std::string& l : got) a += "\n    " + l;
        for (const std::string& l : expected) b += "\n    " + l;
        expect(got == expected, what + "\n  expected:" + b + "\n  got:" + a);
    }
    int finish() {
        std::printf("%d passed, %d failed\n", passed, failed);
        return failed ? 1 : 0;
    }
};

#endif
