// What a fuzz target does when an invariant breaks: says which, and stops
// the run so that libFuzzer (or the replay) keeps the input.
#ifndef QUON_FUZZ_CHECK_H
#define QUON_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
