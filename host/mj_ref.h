// Counted reference to an object of a host module: Release on destruction
// and on reassignment. An empty reference means the object is not
// available, and every user tests for that.
#ifndef QN_HOST_MJ_REF_H
#define QN_HOST_MJ_REF_H

#include <utility>

#include "mj/mj_interfaces.h"

namespace qn {
namespace host {

template <class T>
class MJRef {
public:
    MJRef() = default;
    // Takes over a reference the caller already holds (a factory's result).
    static MJRef Adopt(T* p) {
        MJRef r;
        r.p_ = p;
        return r;
    }
    MJRef(const MJRef& o) : p_(o.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    MJRef(MJRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    MJRef& operator=(MJRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~MJRef() { reset(); }

    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    // Out-parameter for factories; releases what was held first.
    void** put() {
        reset();
        return reinterpret_cast<void**>(&p_);
    }
    T** put_typed() {
        reset();
        return &p_;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace host
}  // namespace qn

#endif  // QN_HOST_MJ_REF_H
