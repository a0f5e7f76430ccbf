// setenv and unsetenv for the Windows test build (included ahead of every source).
#ifndef QN_TEST_POSIX_WIN32_H
#define QN_TEST_POSIX_WIN32_H

#if defined(_WIN32) && defined(__cplusplus)

#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
    return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

// Assigning "" removes it.
inline int unsetenv(const char* name) {
    return ::_putenv_s(name, "") == 0 ? 0 : -1;
}

#endif

#endif
