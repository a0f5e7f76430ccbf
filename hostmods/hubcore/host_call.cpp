#include "host_call.h"

#include <atomic>
#include <cstring>
#include <string>

#include "platform.h"

namespace hubcore {

namespace {

// 0 is no thread id on any platform we run on, so it doubles as "not set".
std::atomic<uint32_t> g_ui_thread{0};

// Name of the bag text that carries a call's answer back to the caller.
constexpr const char kAnswerName[] = "gdt";

}  // namespace

void set_ui_thread_id(uint32_t thread_id) {
    g_ui_thread.store(thread_id, std::memory_order_relaxed);
}

uint32_t ui_thread_id() {
    const uint32_t registered = g_ui_thread.load(std::memory_order_relaxed);
    return registered != 0 ? registered : qn::platform::main_thread_id();
}

mj::result_t MJ_CALL HostCall::Notify(const char*, void*, void*) {
    // The host's own modules react to these; a stand-in host has nothing
    // to update, but a caller must never see a notification refused.
    return mj::MJ_S_OK;
}

mj::result_t MJ_CALL HostCall::Call(const char* function, mj::IMJParamBag* bag) {
    if (function == nullptr) return mj::MJ_E_POINTER;
    if (std::strcmp(function, "UIThreadId") != 0) return mj::MJ_E_NOTIMPL;
    if (bag == nullptr) return mj::MJ_E_POINTER;
    try {
        const std::string answer = std::to_string(ui_thread_id());
        return bag->SetText(kAnswerName, answer.c_str());
    } catch (...) {
        return mj::MJ_E_FAIL;
    }
}

}  // namespace hubcore
