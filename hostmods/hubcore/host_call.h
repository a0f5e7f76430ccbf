#ifndef HUBCORE_HOST_CALL_H
#define HUBCORE_HOST_CALL_H

#include <cstdint>

#include <mj/mj_interfaces.h>

#include "ref_counted.h"

namespace hubcore {

// The thread the host calls its user-interface thread: the one registered
// last, or the process's main thread while none (or 0) is registered.
void set_ui_thread_id(uint32_t thread_id);
uint32_t ui_thread_id();

class HostCall final : public RefCounted<HostCall, mj::IHubHostCall> {
public:
    mj::result_t MJ_CALL Notify(const char* name, void* arg1, void* arg2) override;
    mj::result_t MJ_CALL Call(const char* function, mj::IMJParamBag* bag) override;
};

}  // namespace hubcore

#endif  // HUBCORE_HOST_CALL_H
