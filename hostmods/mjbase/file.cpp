#include <cstdio>
#include "object.h"
#include "thread_safety.h"
#include "text.h"

namespace mjbase {

namespace {

class File final : public Object<File, mj::IMJFile> {
public:
    ~File() { CloseLocked(); }

    // A second Open on the same object closes the first file.
    int32_t MJ_CALL Open(const mj::wchar* path, const mj::wchar* mode, int32_t /*reserved*/) override {
        if (path == nullptr || mode == nullptr || *path == 0 || *mode == 0) return 0;
        try {
            qn::platform::MutexLock lock(mutex_);
            CloseLocked();
#if defined(_WIN32)
            file_ = ::_wfopen(path, mode);
#else
            file_ = std::fopen(WideToUtf8(path).c_str(), WideToUtf8(mode).c_str());
#endif
            return file_ != nullptr ? 1 : 0;
        } catch (...) {
            return 0;
        }
    }

    int32_t MJ_CALL IsOpen() override {
        qn::platform::MutexLock lock(mutex_);
        return file_ != nullptr ? 1 : 0;
    }

    uint32_t MJ_CALL Write(const void* data, uint32_t count) override {
        if (data == nullptr || count == 0) return 0;
        qn::platform::MutexLock lock(mutex_);
        if (file_ == nullptr) return 0;
        return static_cast<uint32_t>(std::fwrite(data, 1, count, file_));
    }

    mj::result_t MJ_CALL Close() override {
        qn::platform::MutexLock lock(mutex_);
        if (file_ == nullptr) return mj::MJ_E_FAIL;
        return CloseLocked() ? mj::MJ_S_OK : mj::MJ_E_FAIL;
    }

private:
    bool CloseLocked() QN_REQUIRES(mutex_) {
        if (file_ == nullptr) return true;
        const int rc = std::fclose(file_);
        file_ = nullptr;
        return rc == 0;
    }

    qn::platform::Mutex mutex_;
    std::FILE* file_ QN_GUARDED_BY(mutex_) = nullptr;
};

}  // namespace

mj::IMJObject* NewFile() {
    return mj::NewObject<File>();
}

}  // namespace mjbase
