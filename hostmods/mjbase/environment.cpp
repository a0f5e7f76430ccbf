#include <new>

#include "object.h"
#include "text.h"

namespace mjbase {

namespace {

class Environment final : public Object<Environment, mj::IMJEnvironment> {
public:
    // Resolved once, at creation, so the text handed out stays put for the
    // object's lifetime and concurrent callers only ever read it.
    Environment() : config_dir_(Utf8ToWide(ConfigDir())) {}

    const mj::wchar* MJ_CALL GetValue(uint32_t id, int32_t /*reserved*/) override {
        if (id == mj::MJ_ENV_CONFIG_DIR) return config_dir_.c_str();
        return nullptr;
    }

private:
    const WideString config_dir_;
};

}  // namespace

mj::IMJObject* NewEnvironment() {
    return mj::NewObject<Environment>();
}

}  // namespace mjbase
