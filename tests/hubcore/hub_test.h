// What the hubcore tests share: the module loaded the way quillnet loads
// it, counted references, and parameter bags to talk to its objects.
#ifndef QN_TEST_HUB_TEST_H
#define QN_TEST_HUB_TEST_H

#include <optional>
#include <string>
#include <utility>

#include <mj/mj_interfaces.h>

namespace hubtest {

// Holds one reference; releases it when dropped.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* adopted) : p_(adopted) {}
    Ref(const Ref& other) : p_(other.p_) {
        if (p_ != nullptr) p_->AddRef();
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() {
        if (p_ != nullptr) p_->Release();
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: drops the current reference first.
    T** put() {
        *this = Ref();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// libhubcore.so from beside the test executable, loaded once per process.
struct HubModule {
    mj::PFN_CreateMJObject create = nullptr;
    mj::PFN_HubSetUIThreadId set_ui_thread = nullptr;
};
const HubModule& hub();

template <class T>
Ref<T> create(const mj::MJCLSID& clsid) {
    void* object = nullptr;
    if (hub().create == nullptr || hub().create(&clsid, &object) != mj::MJ_S_OK) return Ref<T>();
    return Ref<T>(static_cast<T*>(object));
}

// A fresh, empty parameter bag from libMJBase.so.
Ref<mj::IMJParamBag> make_bag();

// Bag readers that go through the same size-then-fetch protocol as quillnet.
std::optional<std::string> bag_text(mj::IMJParamBag* bag, const char* name);
std::optional<int32_t> bag_type(mj::IMJParamBag* bag, const char* name);

// Opens `path` through a new document factory; the factory's answer goes to
// *status when given.
Ref<mj::IHubDocument> open_document(const std::string& path, mj::result_t* status = nullptr);

}  // namespace hubtest

#endif
