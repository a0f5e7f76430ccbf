#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "object.h"
#include "thread_safety.h"

namespace mjbase {

namespace {

struct Value {
    int32_t type = mj::MJ_PARAM_TEXT;
    std::string text;
    int64_t integer = 0;
    double real = 0.0;
};

class ParamBag final : public Object<ParamBag, mj::IMJParamBag> {
public:
    mj::result_t MJ_CALL SetText(const char* name, const char* text) override {
        if (name == nullptr || text == nullptr) return mj::MJ_E_POINTER;
        try {
            Value v;
            v.type = mj::MJ_PARAM_TEXT;
            v.text = text;
            return Store(name, std::move(v));
        } catch (...) {
            return mj::MJ_E_FAIL;
        }
    }

    mj::result_t MJ_CALL GetText(const char* name, char* buffer, int32_t* size) override {
        if (name == nullptr || size == nullptr) return mj::MJ_E_POINTER;
        qn::platform::MutexLock lock(mutex_);
        const auto it = values_.find(name);
        if (it == values_.end() || it->second.type != mj::MJ_PARAM_TEXT) return mj::MJ_E_FAIL;
        const std::string& text = it->second.text;
        if (text.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return mj::MJ_E_FAIL;
        const int32_t needed = static_cast<int32_t>(text.size()) + 1;
        if (buffer == nullptr || *size < needed) {
            *size = needed;
            return mj::MJ_E_MORE_DATA;
        }
        std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
        return mj::MJ_S_OK;
    }

    mj::result_t MJ_CALL GetType(const char* name, int32_t* type) override {
        if (name == nullptr || type == nullptr) return mj::MJ_E_POINTER;
        qn::platform::MutexLock lock(mutex_);
        const auto it = values_.find(name);
        if (it == values_.end()) return mj::MJ_E_FAIL;
        *type = it->second.type;
        return mj::MJ_S_OK;
    }

    mj::result_t MJ_CALL SetInt(const char* name, int64_t value, int32_t type) override {
        if (name == nullptr) return mj::MJ_E_POINTER;
        if (type != mj::MJ_PARAM_INT && type != mj::MJ_PARAM_BOOL) return mj::MJ_E_FAIL;
        Value v;
        v.type = type;
        v.integer = type == mj::MJ_PARAM_BOOL ? (value != 0 ? 1 : 0) : value;
        return Store(name, std::move(v));
    }

    mj::result_t MJ_CALL SetDouble(const char* name, double value) override {
        if (name == nullptr) return mj::MJ_E_POINTER;
        Value v;
        v.type = mj::MJ_PARAM_DOUBLE;
        v.real = value;
        return Store(name, std::move(v));
    }

    // Integers and booleans are both integers underneath.
    mj::result_t MJ_CALL GetInt(const char* name, int64_t* value) override {
        if (name == nullptr || value == nullptr) return mj::MJ_E_POINTER;
        qn::platform::MutexLock lock(mutex_);
        const auto it = values_.find(name);
        if (it == values_.end()) return mj::MJ_E_FAIL;
        if (it->second.type != mj::MJ_PARAM_INT && it->second.type != mj::MJ_PARAM_BOOL) return mj::MJ_E_FAIL;
        *value = it->second.integer;
        return mj::MJ_S_OK;
    }

    // A document number may have been stored as an integer; reading it as
    // a double is lossless enough for what hubcore hands over.
    mj::result_t MJ_CALL GetDouble(const char* name, double* value) override {
        if (name == nullptr || value == nullptr) return mj::MJ_E_POINTER;
        qn::platform::MutexLock lock(mutex_);
        const auto it = values_.find(name);
        if (it == values_.end()) return mj::MJ_E_FAIL;
        if (it->second.type == mj::MJ_PARAM_DOUBLE) {
            *value = it->second.real;
        } else if (it->second.type == mj::MJ_PARAM_INT) {
            *value = static_cast<double>(it->second.integer);
        } else {
            return mj::MJ_E_FAIL;
        }
        return mj::MJ_S_OK;
    }

private:
    // Values are built outside the lock; only the map update is inside.
    mj::result_t Store(const char* name, Value&& v) {
        try {
            std::string key(name);
            qn::platform::MutexLock lock(mutex_);
            values_[std::move(key)] = std::move(v);
            return mj::MJ_S_OK;
        } catch (...) {
            return mj::MJ_E_FAIL;
        }
    }

    qn::platform::Mutex mutex_;
    std::map<std::string, Value> values_ QN_GUARDED_BY(mutex_);
};

}  // namespace

mj::IMJObject* NewParamBag() {
    return mj::NewObject<ParamBag>();
}

}  // namespace mjbase
