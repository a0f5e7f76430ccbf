// Reference counting shared by every MJBase object. The operation tables
// have no virtual destructor, so each object deletes itself through its
// own (final) type.
#ifndef MJBASE_OBJECT_H
#define MJBASE_OBJECT_H

#include <atomic>
#include <cstdint>

#include "mj/mj_interfaces.h"

namespace mjbase {

template <class Derived, class Interface>
class Object : public Interface {
public:
    uint32_t MJ_CALL AddRef() override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    uint32_t MJ_CALL Release() override {
        // acq_rel: the thread that drops the last reference must see every
        // write other owners made before letting go.
        const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    Object() = default;
    ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

private:
    std::atomic<uint32_t> refs_{1};
};

// Factories of the five classes; each returns an object holding one
// reference, or null when memory ran out.
mj::IMJObject* NewLogSink();
mj::IMJObject* NewEnvironment();
mj::IMJObject* NewParamBag();
mj::IMJObject* NewTextConverter();
mj::IMJObject* NewFile();

}  // namespace mjbase

#endif  // MJBASE_OBJECT_H
