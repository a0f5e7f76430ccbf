// A file written through the host's file object (MJBase), which takes wide
// paths. The object is made at the first operation; destroying the wrapper
// closes a file still open and releases the object.
#ifndef QN_HOST_SIMPLE_FILE_H
#define QN_HOST_SIMPLE_FILE_H

#include <cstdint>

#include "host/mj_ref.h"
#include "mj/mj_interfaces.h"

namespace MJBase {

class CSimpleFile {
public:
    CSimpleFile() = default;
    ~CSimpleFile();
    CSimpleFile(const CSimpleFile&) = delete;
    CSimpleFile& operator=(const CSimpleFile&) = delete;

    // False when MJBase is missing or the file cannot be opened.
    bool Open(const mj::wchar* path, const mj::wchar* mode);
    bool IsOpen() const;
    // Bytes written; 0 without an open file.
    uint32_t Write(const void* data, uint32_t count);
    void Close();

private:
    bool EnsureObject();
    qn::host::MJRef<mj::IMJFile> file_;
};

}  // namespace MJBase

#endif  // QN_HOST_SIMPLE_FILE_H
