#include "host/simple_file.h"

#include "host/host_objects.h"

namespace MJBase {

CSimpleFile::~CSimpleFile() {
    if (file_ && file_->IsOpen()) file_->Close();
}

bool CSimpleFile::EnsureObject() {
    if (!file_) file_ = qn::host::CreateFileObject();
    return static_cast<bool>(file_);
}

bool CSimpleFile::Open(const mj::wchar* path, const mj::wchar* mode) {
    if (!EnsureObject()) return false;
    return file_->Open(path, mode, 0) != 0;
}

bool CSimpleFile::IsOpen() const {
    return file_ && file_->IsOpen() != 0;
}

uint32_t CSimpleFile::Write(const void* data, uint32_t count) {
    if (!EnsureObject()) return 0;
    return file_->Write(data, count);
}

void CSimpleFile::Close() {
    if (EnsureObject()) file_->Close();
}

}  // namespace MJBase
