// Shared reference counting for every object hubcore hands out. The tables
// have no virtual destructor, so the object deletes itself through its own
// most-derived type when the last reference goes.
#ifndef HUBCORE_REF_COUNTED_H
#define HUBCORE_REF_COUNTED_H

#include <atomic>
#include <cstdint>

namespace hubcore {

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

}  // namespace hubcore

#endif  // HUBCORE_REF_COUNTED_H
