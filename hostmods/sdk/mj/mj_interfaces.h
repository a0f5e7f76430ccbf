// Binary interface between quillnet and the host's two modules, MJBase and
// hubcore. A host that ships its own modules implements exactly these
// operation tables: every object is a table of virtual operations whose
// first two entries are AddRef and Release, followed by the operations in
// the order declared here. No virtual destructors, so the table layout is
// just the declaration order on every compiler we build with.
//
// Both modules export one C factory:
//     int32_t CreateMJObject(const MJCLSID* clsid, void** object);
// returning MJ_S_OK with a referenced object, or a failure code.
#ifndef MJ_INTERFACES_H
#define MJ_INTERFACES_H

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define MJ_CALL __stdcall
#define MJ_EXPORT extern "C" __declspec(dllexport)
#else
#define MJ_CALL
#define MJ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace mj {

// Wide text is UTF-16 on every platform: wchar_t on Windows, char16_t
// elsewhere (where wchar_t is 32 bits wide).
#if defined(_WIN32)
using wchar = wchar_t;
#else
using wchar = char16_t;
#endif

using result_t = int32_t;
constexpr result_t MJ_S_OK = 0;
constexpr result_t MJ_E_MORE_DATA = static_cast<result_t>(0x80004000u);  // size query answer
constexpr result_t MJ_E_NOTIMPL = static_cast<result_t>(0x80004001u);
constexpr result_t MJ_E_FAIL = static_cast<result_t>(0x80004005u);
constexpr result_t MJ_E_POINTER = static_cast<result_t>(0x80004007u);

struct MJCLSID {
    uint32_t d1;
    uint16_t d2;
    uint16_t d3;
    uint8_t d4[8];
};

inline bool operator==(const MJCLSID& a, const MJCLSID& b) {
    return std::memcmp(&a, &b, sizeof(MJCLSID)) == 0;
}

using PFN_CreateMJObject = result_t (*)(const MJCLSID* clsid, void** object);
constexpr const char kFactoryName[] = "CreateMJObject";

// ---- MJBase ---------------------------------------------------------------

constexpr MJCLSID CLSID_MJLogSink = {0x75AC1483, 0xA8DF, 0x4499, {0xB9, 0x86, 0xB5, 0x98, 0x2F, 0x9A, 0x9B, 0xCC}};
constexpr MJCLSID CLSID_MJEnvironment = {0x47D19AF3, 0x93D6, 0x4B11, {0xAF, 0xCD, 0x40, 0xC0, 0xE9, 0x31, 0x91, 0xAC}};
constexpr MJCLSID CLSID_MJParamBag = {0xD365B012, 0x3A53, 0x4BEC, {0x9F, 0xEF, 0x30, 0xFD, 0x9A, 0x3B, 0xB3, 0xC6}};
constexpr MJCLSID CLSID_MJTextConverter = {0x5C1E29A4, 0x7B3D, 0x4F60, {0x9E, 0x21, 0x3A, 0x8D, 0x44, 0xC0, 0xB7, 0xE5}};
constexpr MJCLSID CLSID_MJFile = {0xC2756188, 0xCC87, 0x45FB, {0x93, 0x3B, 0xB3, 0x56, 0xF0, 0x4E, 0xF4, 0xA0}};

struct IMJObject {
    virtual uint32_t MJ_CALL AddRef() = 0;
    virtual uint32_t MJ_CALL Release() = 0;
};

// Sink options record, passed by address to SetOptions.
struct MJLogOptions {
    int32_t reserved;   // always 0
    int32_t flags;      // 0x00070007, passed through as is
    int32_t max_days;   // delete log files older than this many days
    int32_t max_size;   // rotate the log file past this many bytes
    int32_t debug_mode; // non-zero: copy records to the debugger output
};

struct IMJLogSink : IMJObject {
    virtual result_t MJ_CALL SetModuleName(const wchar* name, int32_t reserved) = 0;
    virtual result_t MJ_CALL SetLevel(uint32_t level) = 0;
    virtual result_t MJ_CALL SetOptions(const MJLogOptions* options) = 0;
    virtual int32_t MJ_CALL Write(const wchar* text, uint32_t level) = 0;
};

// Value ids of the environment object.
constexpr uint32_t MJ_ENV_CONFIG_DIR = 0x200007;

struct IMJEnvironment : IMJObject {
    // The returned text belongs to the object and stays valid until the
    // object is released; NULL when the id is unknown.
    virtual const wchar* MJ_CALL GetValue(uint32_t id, int32_t reserved) = 0;
};

// Value types in a parameter bag.
constexpr int32_t MJ_PARAM_INT = 1;    // signed 64-bit integer
constexpr int32_t MJ_PARAM_TEXT = 2;   // narrow text
constexpr int32_t MJ_PARAM_DOUBLE = 3; // double
constexpr int32_t MJ_PARAM_BOOL = 4;   // stored as integer 0 / 1

struct IMJParamBag : IMJObject {
    virtual result_t MJ_CALL SetText(const char* name, const char* text) = 0;
    // With a null buffer, or one smaller than *size, answers MJ_E_MORE_DATA
    // and the size needed (terminator included) in *size. With a buffer
    // large enough, copies the text and answers MJ_S_OK. Unknown name or a
    // value that is not text: MJ_E_FAIL.
    virtual result_t MJ_CALL GetText(const char* name, char* buffer, int32_t* size) = 0;
    virtual result_t MJ_CALL GetType(const char* name, int32_t* type) = 0;
    // Not used by quillnet; lets hubcore hand over numbers from documents.
    virtual result_t MJ_CALL SetInt(const char* name, int64_t value, int32_t type) = 0;
    virtual result_t MJ_CALL SetDouble(const char* name, double value) = 0;
    virtual result_t MJ_CALL GetInt(const char* name, int64_t* value) = 0;
    virtual result_t MJ_CALL GetDouble(const char* name, double* value) = 0;
};

// Request codes of the text converter.
constexpr uint32_t MJ_CONVERT_FROM_WIDE = 0x10100; // wide -> code page
constexpr uint32_t MJ_CONVERT_TO_WIDE = 0x10101;   // code page -> wide
constexpr uint32_t MJ_CP_UTF8 = 65001;
constexpr uint32_t MJ_CP_GBK = 936;

struct MJConvertRequest {
    uint32_t code_page;
    uint32_t src_len;   // source units (bytes or wide characters)
    uint32_t dst_cap;   // destination units, terminator included
    uint32_t result;    // destination units written, terminator excluded
    const void* src;
    void* dst;
};

struct IMJTextConverter : IMJObject {
    // Always terminates the output within dst_cap (when dst_cap > 0); output
    // that does not fit is cut at a character boundary.
    virtual result_t MJ_CALL Convert(uint32_t request, MJConvertRequest* req) = 0;
};

struct IMJFile : IMJObject {
    virtual int32_t MJ_CALL Open(const wchar* path, const wchar* mode, int32_t reserved) = 0;
    virtual int32_t MJ_CALL IsOpen() = 0;
    virtual uint32_t MJ_CALL Write(const void* data, uint32_t count) = 0;
    virtual result_t MJ_CALL Close() = 0;
};

// ---- hubcore --------------------------------------------------------------

constexpr MJCLSID CLSID_HubHostCall = {0xDE83BD50, 0x2E60, 0x478D, {0xA1, 0x44, 0x42, 0xB2, 0xF2, 0x78, 0xBE, 0x40}};
constexpr MJCLSID CLSID_HubDocumentFactory = {0x368638EC, 0x03E4, 0x49BA, {0x9F, 0x8E, 0x7D, 0x74, 0x09, 0x4E, 0xBE, 0x2E}};

struct IHubHostCall : IMJObject {
    virtual result_t MJ_CALL Notify(const char* name, void* arg1, void* arg2) = 0;
    virtual result_t MJ_CALL Call(const char* function, IMJParamBag* bag) = 0;
};

struct IHubDocument : IMJObject {
    virtual result_t MJ_CALL Get(const char* key, IMJParamBag* bag) = 0;
};

struct IHubDocumentFactory : IMJObject {
    // The bag's text "file" names the document. *document receives a
    // referenced document, also when the file is missing (an empty one).
    virtual result_t MJ_CALL Open(IMJParamBag* bag, IHubDocument** document) = 0;
};

// Optional extra export of hubcore: the thread the host treats as its
// user-interface thread (default: the process's main thread).
using PFN_HubSetUIThreadId = void (*)(uint32_t thread_id);
constexpr const char kSetUIThreadIdName[] = "HubSetUIThreadId";

}  // namespace mj

#endif  // MJ_INTERFACES_H
