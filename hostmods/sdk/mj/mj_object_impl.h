// Implementation help for modules that serve the host interface: thread-safe
// reference counting over an operation table, and creation that reports
// running out of memory as a null object. The tables have no virtual
// destructor, so an object deletes itself through its own (final) type.
#ifndef MJ_OBJECT_IMPL_H
#define MJ_OBJECT_IMPL_H

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "mj/mj_interfaces.h"

namespace mj {

template <class Derived, class Interface>
class RefCounted : public Interface {
public:
    uint32_t MJ_CALL AddRef() override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    uint32_t MJ_CALL Release() override {
        // acq_rel: the thread that drops the last reference must see every
        // write the other holders made before their own Release.
        const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

private:
    // A new object starts with the one reference its creator receives.
    std::atomic<uint32_t> refs_{1};
};

// A new object holding one reference, or null when it could not be made.
template <class T, class... Args>
T* NewObject(Args&&... args) noexcept {
    try {
        return new T(std::forward<Args>(args)...);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace mj

#endif  // MJ_OBJECT_IMPL_H
