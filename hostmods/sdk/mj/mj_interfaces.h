/**
 * \file mj_interfaces.h
 * \brief Binary interface between quillnet and the host's two modules,
 * MJBase and hubcore.
 *
 * The library loads `MJBase.dll` (`libMJBase.so`) and `hubcore.dll`
 * (`libhubcore.so`) from the folder of the host's executable at run time and
 * creates every object it uses through their factories. A host that ships
 * its own modules implements exactly these operation tables: every object
 * is a table of virtual operations whose first two entries are AddRef and
 * Release, followed by the operations in the order declared here. No
 * virtual destructors, so the table layout is just the declaration order
 * on every compiler we build with. On Windows the operations are
 * `__stdcall`.
 *
 * Both modules export one C factory:
 *
 *     int32_t CreateMJObject(const MJCLSID* clsid, void** object);
 *
 * returning MJ_S_OK with a referenced object, or a failure code. A module or
 * class that is missing only switches the matching service off (no log, no
 * host thread id, no protocol table); requests still run.
 */
#ifndef MJ_INTERFACES_H
#define MJ_INTERFACES_H

#include <cstdint>
#include <cstring>

/// \def MJ_CALL
/// Calling convention of every operation: `__stdcall` on Windows, the
/// default elsewhere.
/// \def MJ_EXPORT
/// How a module exports its factory: C linkage, visible outside the module.
#if defined(_WIN32)
#define MJ_CALL __stdcall
#define MJ_EXPORT extern "C" __declspec(dllexport)
#else
#define MJ_CALL
#define MJ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

/// The host-module interface.
namespace mj {

/// Wide text is UTF-16 on every platform: wchar_t on Windows, char16_t
/// elsewhere (where wchar_t is 32 bits wide).
#if defined(_WIN32)
using wchar = wchar_t;
#else
using wchar = char16_t;
#endif

/// Result of an operation: 0 success, anything else a failure code.
using result_t = int32_t;
constexpr result_t MJ_S_OK = 0;  ///< success
constexpr result_t MJ_E_MORE_DATA = static_cast<result_t>(0x80004000u);  ///< size query answer
constexpr result_t MJ_E_NOTIMPL = static_cast<result_t>(0x80004001u);    ///< operation not offered
constexpr result_t MJ_E_FAIL = static_cast<result_t>(0x80004005u);       ///< failure
constexpr result_t MJ_E_POINTER = static_cast<result_t>(0x80004007u);    ///< a required pointer was null

/// 16-byte class id, laid out as a Windows GUID.
struct MJCLSID {
    uint32_t d1;     ///< first group
    uint16_t d2;     ///< second group
    uint16_t d3;     ///< third group
    uint8_t d4[8];   ///< last eight bytes
};

/// Class ids compare byte for byte.
inline bool operator==(const MJCLSID& a, const MJCLSID& b) {
    return std::memcmp(&a, &b, sizeof(MJCLSID)) == 0;
}

/// The factory both modules export: a referenced object of the class, or a
/// failure code and a null object.
using PFN_CreateMJObject = result_t (*)(const MJCLSID* clsid, void** object);
constexpr const char kFactoryName[] = "CreateMJObject";  ///< the factory's export name

// ---- MJBase ---------------------------------------------------------------

/// IMJLogSink, from MJBase.
constexpr MJCLSID CLSID_MJLogSink = {0x75AC1483, 0xA8DF, 0x4499, {0xB9, 0x86, 0xB5, 0x98, 0x2F, 0x9A, 0x9B, 0xCC}};
/// IMJEnvironment, from MJBase.
constexpr MJCLSID CLSID_MJEnvironment = {0x47D19AF3, 0x93D6, 0x4B11, {0xAF, 0xCD, 0x40, 0xC0, 0xE9, 0x31, 0x91, 0xAC}};
/// IMJParamBag, from MJBase.
constexpr MJCLSID CLSID_MJParamBag = {0xD365B012, 0x3A53, 0x4BEC, {0x9F, 0xEF, 0x30, 0xFD, 0x9A, 0x3B, 0xB3, 0xC6}};
/// IMJTextConverter, from MJBase.
constexpr MJCLSID CLSID_MJTextConverter = {0x5C1E29A4, 0x7B3D, 0x4F60, {0x9E, 0x21, 0x3A, 0x8D, 0x44, 0xC0, 0xB7, 0xE5}};
/// IMJFile, from MJBase.
constexpr MJCLSID CLSID_MJFile = {0xC2756188, 0xCC87, 0x45FB, {0x93, 0x3B, 0xB3, 0x56, 0xF0, 0x4E, 0xF4, 0xA0}};

/// The first two operations of every object. An object is deleted by the
/// Release that drops its last reference; objects are called from any
/// thread, so counting must be thread-safe.
struct IMJObject {
    /// Adds a reference; returns the new count.
    virtual uint32_t MJ_CALL AddRef() = 0;
    /// Drops a reference, deleting the object with the last; returns the
    /// count left.
    virtual uint32_t MJ_CALL Release() = 0;
};

/// Sink options record, passed by address to SetOptions.
struct MJLogOptions {
    int32_t reserved;   ///< always 0
    int32_t flags;      ///< 0x00070007, passed through as is
    int32_t max_days;   ///< delete log files older than this many days
    int32_t max_size;   ///< rotate the log file past this many bytes
    int32_t debug_mode; ///< non-zero: copy records to the debugger output
};

/// The log sink every record of the library goes to, configured once from
/// `mjlog.dat`. Write is called from every thread that logs, without a lock.
struct IMJLogSink : IMJObject {
    /// Names the module whose records follow (quillnet's is "quillnet");
    /// `reserved` is 0.
    virtual result_t MJ_CALL SetModuleName(const wchar* name, int32_t reserved) = 0;
    /// Records below this level (25 info, 30 warning, 35 error) are dropped.
    virtual result_t MJ_CALL SetLevel(uint32_t level) = 0;
    /// Rotation, age and debugger-output settings; the record is read during
    /// the call only.
    virtual result_t MJ_CALL SetOptions(const MJLogOptions* options) = 0;
    /// Writes one record (NUL-terminated, usually ending in a line feed) at
    /// `level`; returns a status the library does not look at.
    virtual int32_t MJ_CALL Write(const wchar* text, uint32_t level) = 0;
};

/// Value id of the environment object: the configuration directory, which
/// holds `mjlog.dat` and `Resource/Protocol.json`.
constexpr uint32_t MJ_ENV_CONFIG_DIR = 0x200007;

/// The host's environment: where its configuration lives.
struct IMJEnvironment : IMJObject {
    /// The returned text belongs to the object and stays valid until the
    /// object is released; NULL when the id is unknown. `reserved` is 0.
    virtual const wchar* MJ_CALL GetValue(uint32_t id, int32_t reserved) = 0;
};

// Value types in a parameter bag.
constexpr int32_t MJ_PARAM_INT = 1;    ///< signed 64-bit integer
constexpr int32_t MJ_PARAM_TEXT = 2;   ///< narrow text
constexpr int32_t MJ_PARAM_DOUBLE = 3; ///< double
constexpr int32_t MJ_PARAM_BOOL = 4;   ///< stored as integer 0 / 1

/// A name-to-value map that carries arguments and results between the
/// library and the host's objects; used from any thread.
struct IMJParamBag : IMJObject {
    /// Stores a copy of `text` under `name` (type MJ_PARAM_TEXT).
    virtual result_t MJ_CALL SetText(const char* name, const char* text) = 0;
    /// With a null buffer, or one smaller than *size, answers MJ_E_MORE_DATA
    /// and the size needed (terminator included) in *size. With a buffer
    /// large enough, copies the text and answers MJ_S_OK. Unknown name or a
    /// value that is not text: MJ_E_FAIL.
    virtual result_t MJ_CALL GetText(const char* name, char* buffer, int32_t* size) = 0;
    /// The value's type (MJ_PARAM_...) in *type; MJ_E_FAIL for an unknown name.
    virtual result_t MJ_CALL GetType(const char* name, int32_t* type) = 0;
    /// Not used by quillnet; lets hubcore hand over numbers from documents.
    virtual result_t MJ_CALL SetInt(const char* name, int64_t value, int32_t type) = 0;
    /// Not used by quillnet.
    virtual result_t MJ_CALL SetDouble(const char* name, double value) = 0;
    /// Not used by quillnet.
    virtual result_t MJ_CALL GetInt(const char* name, int64_t* value) = 0;
    /// Not used by quillnet.
    virtual result_t MJ_CALL GetDouble(const char* name, double* value) = 0;
};

// Request codes of the text converter.
constexpr uint32_t MJ_CONVERT_FROM_WIDE = 0x10100; ///< wide -> code page
constexpr uint32_t MJ_CONVERT_TO_WIDE = 0x10101;   ///< code page -> wide
constexpr uint32_t MJ_CP_UTF8 = 65001;             ///< code page UTF-8
constexpr uint32_t MJ_CP_GBK = 936;                ///< code page 936 (GBK)

/// One conversion, passed by address to IMJTextConverter::Convert.
struct MJConvertRequest {
    uint32_t code_page; ///< MJ_CP_UTF8 or MJ_CP_GBK
    uint32_t src_len;   ///< source units (bytes or wide characters)
    uint32_t dst_cap;   ///< destination units, terminator included
    uint32_t result;    ///< destination units written, terminator excluded
    const void* src;    ///< the source text
    void* dst;          ///< the destination buffer of dst_cap units
};

/// Text conversion between UTF-16 and a code page; called from any thread.
struct IMJTextConverter : IMJObject {
    /// Always terminates the output within dst_cap (when dst_cap > 0); output
    /// that does not fit is cut at a character boundary.
    virtual result_t MJ_CALL Convert(uint32_t request, MJConvertRequest* req) = 0;
};

/// A local file, written by the synchronous downloads.
struct IMJFile : IMJObject {
    /// Opens `path` with a C runtime `mode` ("wb"); non-zero on success.
    /// `reserved` is 0.
    virtual int32_t MJ_CALL Open(const wchar* path, const wchar* mode, int32_t reserved) = 0;
    /// Non-zero while a file is open.
    virtual int32_t MJ_CALL IsOpen() = 0;
    /// Writes `count` bytes; returns the count written (short: a failure).
    virtual uint32_t MJ_CALL Write(const void* data, uint32_t count) = 0;
    /// Closes the file.
    virtual result_t MJ_CALL Close() = 0;
};

// ---- hubcore --------------------------------------------------------------

/// IHubHostCall, from hubcore.
constexpr MJCLSID CLSID_HubHostCall = {0xDE83BD50, 0x2E60, 0x478D, {0xA1, 0x44, 0x42, 0xB2, 0xF2, 0x78, 0xBE, 0x40}};
/// IHubDocumentFactory, from hubcore.
constexpr MJCLSID CLSID_HubDocumentFactory = {0x368638EC, 0x03E4, 0x49BA, {0x9F, 0x8E, 0x7D, 0x74, 0x09, 0x4E, 0xBE, 0x2E}};

/// Calls into the host program; called from every thread that transfers.
struct IHubHostCall : IMJObject {
    /// Tells the host of an event; quillnet does not use it.
    virtual result_t MJ_CALL Notify(const char* name, void* arg1, void* arg2) = 0;
    /// Runs a host function with the bag's text "gdk" as its key and, on
    /// MJ_S_OK, its result in the bag's text "gdt". quillnet calls
    /// "UIThreadId" (key "ui_tid") and expects the decimal id of the host's
    /// user-interface thread, whose transfers it marks in the log.
    virtual result_t MJ_CALL Call(const char* function, IMJParamBag* bag) = 0;
};

/// A configuration document, such as the protocol table.
struct IHubDocument : IMJObject {
    /// MJ_S_OK and the value under `key` in the bag (text as MJ_PARAM_TEXT),
    /// or a failure code for a missing key.
    virtual result_t MJ_CALL Get(const char* key, IMJParamBag* bag) = 0;
};

/// Opens configuration documents; quillnet opens one, the protocol table
/// `Resource/Protocol.json` ({"host:port": "https://", ...}).
struct IHubDocumentFactory : IMJObject {
    /// The bag's text "file" names the document. *document receives a
    /// referenced document, also when the file is missing (an empty one).
    virtual result_t MJ_CALL Open(IMJParamBag* bag, IHubDocument** document) = 0;
};

/// Optional extra export of hubcore: the thread the host treats as its
/// user-interface thread (default: the process's main thread).
using PFN_HubSetUIThreadId = void (*)(uint32_t thread_id);
constexpr const char kSetUIThreadIdName[] = "HubSetUIThreadId";  ///< its export name

}  // namespace mj

#endif  // MJ_INTERFACES_H
