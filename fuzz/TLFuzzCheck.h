#pragma once

#include <cstdio>
#include <cstdlib>

// A property of a fuzz target: when it does not hold, the input is reported as a crash and kept.
#define TL_FUZZ_CHECK(condition)                                                                             \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);            \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
