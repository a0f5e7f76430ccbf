// The few POSIX calls the tests make that the Windows C runtime spells
// otherwise, with the same meaning: the process's environment. Included
// ahead of every test source in the Windows test build (windows.cmake).
#ifndef QN_TEST_POSIX_WIN32_H
#define QN_TEST_POSIX_WIN32_H

#if defined(_WIN32) && defined(__cplusplus)

#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (overwrite == 0 && std::getenv(name) != nullptr) return 0;
    return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

// Windows has no unset variable distinct from an empty one removed:
// assigning "" removes it.
inline int unsetenv(const char* name) {
    return ::_putenv_s(name, "") == 0 ? 0 : -1;
}

#endif

#endif
