// The library's OutputDebugStringA text copied to stderr, as on Linux: a vectored handler takes the "print"
// exception a debugger would.
#include <windows.h>

#include <io.h>

namespace {

LONG CALLBACK forward_debugger_output(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    // The wide flavour carries the narrow text as its second pair.
    ULONG_PTR length = 0, text = 0;
    if (record.ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_C) && record.NumberParameters >= 2) {
        length = record.ExceptionInformation[0];
        text = record.ExceptionInformation[1];
    } else if (record.ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_WIDE_C) &&
               record.NumberParameters >= 4) {
        length = record.ExceptionInformation[2];
        text = record.ExceptionInformation[3];
    } else {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const char* chars = reinterpret_cast<const char*>(text);
    if (length > 0 && chars[length - 1] == '\0') --length;
    if (chars != nullptr && length > 0) _write(2, chars, static_cast<unsigned>(length));
    return EXCEPTION_CONTINUE_EXECUTION;
}

struct InstallForwarder { InstallForwarder() { ::AddVectoredExceptionHandler(1, forward_debugger_output); } } g_install;

}  // namespace
