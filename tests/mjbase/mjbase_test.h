// What the MJBase tests share: the module loaded the way quillnet loads it,
// counted references, and UTF-16 helpers.
#ifndef QN_TEST_MJBASE_TEST_H
#define QN_TEST_MJBASE_TEST_H

#include <string>
#include <utility>

#include <mj/mj_interfaces.h>

namespace mjtest {

// Holds one reference; releases it when dropped.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* adopted) : p_(adopted) {}
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }

    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }
    // Gives up the reference without releasing it.
    T* leak() { return std::exchange(p_, nullptr); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// CreateMJObject of the MJBase beside the test executable, loaded once per
// process; null when the module or its export is missing.
mj::PFN_CreateMJObject factory();

template <class T>
Ref<T> create(const mj::MJCLSID& clsid) {
    void* object = nullptr;
    if (factory() == nullptr || factory()(&clsid, &object) != mj::MJ_S_OK) return Ref<T>();
    return Ref<T>(static_cast<T*>(object));
}

using wstring = std::basic_string<mj::wchar>;

// Test texts are written as u"" literals; on Windows mj::wchar is wchar_t of
// the same width.
inline wstring W(const std::u16string& s) { return wstring(s.begin(), s.end()); }

// UTF-8 -> UTF-16 for test paths (ASCII and BMP characters are enough).
wstring widen(const std::string& utf8);

}  // namespace mjtest

#endif
