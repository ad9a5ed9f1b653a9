#pragma once

#include <cstdio>
#include <cstdlib>

// A broken promise stops the run; libFuzzer keeps the input, the replay
// test fails on it. abort rather than a trap builtin: the replay is also
// built by compilers without one.
inline void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant violated: %s\n", what);
        std::abort();
    }
}
