// MJBase stand-in: the host component library quillnet loads beside the
// host executable. One export, CreateMJObject, makes objects by class id.
//
// CreateMJObject(clsid, out): MJ_E_POINTER for a null out-pointer;
// MJ_E_NOTIMPL (and *out = null) for an unknown class; otherwise a new
// object holding one reference. Objects delete themselves at the last
// Release.
//
// Environment: GetValue(MJ_ENV_CONFIG_DIR) is the configuration directory,
// ending in "/": $MJ_CONFIG_DIR if set, else "config/" beside the host
// executable. Read when the object is made. Other ids: null.
//
// Log sink: SetModuleName(name) picks <config dir>log/<name>.log (default
// name "MJBase"); sinks naming the same file share it. Each record is one
// line "YYYY-MM-DD HH:MM:SS.mmm [tid] [level] text" (local time; tid of the
// writing thread; one trailing "\n" of the text dropped, everything else
// escaped so that the text stays on its line: see record_escape.h). SetLevel
// drops records below the level (Write answers 0; 1 when queued; -1 on
// failure). SetOptions: max_size rotates <name>.log to <name>.<N>.log, N one
// above the highest present (.1 is the oldest), before a record that would
// pass it (a record larger than max_size gets a file of its own); max_days
// deletes this module's log files older than that, when the options are set
// and at each rotation; debug_mode copies each line to stderr. Writing
// happens on a background thread (spdlog, bounded queue, writers wait when
// it is full); files are flushed every second, at once for level 35 and
// above, and at process exit or module unload, after which Write answers -1
// (as it does in a child made by fork, which has no background thread).
//
// Parameter bag: thread-safe name -> text / int / double / bool. GetText
// answers MJ_E_MORE_DATA with the size needed (terminator included) for a
// null or too small buffer; GetInt also reads booleans (0/1), GetDouble
// also reads integers.
//
// Text converter: UTF-16 <-> code pages 65001 (UTF-8, converted directly)
// and 936 (GBK, with iconv). Output always terminated within dst_cap, cut
// before a whole character when it does not fit (MJ_E_MORE_DATA); result =
// units written. Invalid input never stops a conversion: it is replaced
// (U+FFFD, or "?" in code page 936). An unknown request or code page gives
// empty output and MJ_E_FAIL. The full contract is in text_converter.cpp.
//
// File: Open(wide path, wide mode) over stdio; Release closes an open file.
#include "mj/mj_interfaces.h"
#include "object.h"

namespace {

struct ClassEntry {
    const mj::MJCLSID* clsid;
    mj::IMJObject* (*make)();
};

const ClassEntry kClasses[] = {
    {&mj::CLSID_MJLogSink, mjbase::NewLogSink},
    {&mj::CLSID_MJEnvironment, mjbase::NewEnvironment},
    {&mj::CLSID_MJParamBag, mjbase::NewParamBag},
    {&mj::CLSID_MJTextConverter, mjbase::NewTextConverter},
    {&mj::CLSID_MJFile, mjbase::NewFile},
};

}  // namespace

MJ_EXPORT mj::result_t CreateMJObject(const mj::MJCLSID* clsid, void** object) {
    if (object == nullptr) return mj::MJ_E_POINTER;
    *object = nullptr;
    if (clsid == nullptr) return mj::MJ_E_POINTER;
    for (const ClassEntry& entry : kClasses) {
        if (*entry.clsid == *clsid) {
            mj::IMJObject* made = entry.make();
            if (made == nullptr) return mj::MJ_E_FAIL;
            *object = made;
            return mj::MJ_S_OK;
        }
    }
    return mj::MJ_E_NOTIMPL;
}
