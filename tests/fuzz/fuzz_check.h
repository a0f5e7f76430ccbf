// A broken promise aborts, so that libFuzzer keeps the input that broke it.
#ifndef QN_FUZZ_CHECK_H
#define QN_FUZZ_CHECK_H

#include <cstdlib>

inline void check(bool condition) {
    if (!condition) std::abort();
}

#endif
