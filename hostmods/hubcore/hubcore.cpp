// hubcore: the stand-in for the host's business module. It offers what
// quillnet asks of that module and nothing more.
//
// Exports (everything else stays hidden):
//   CreateMJObject(clsid, out)  null out -> MJ_E_POINTER; unknown class ->
//                               MJ_E_NOTIMPL with *out = null; otherwise a
//                               new object holding one reference, MJ_S_OK.
//   HubSetUIThreadId(id)        registers the host's user-interface thread;
//                               any thread, any time; 0 returns to the
//                               default, the process's main thread.
//
// Host call object (CLSID_HubHostCall):
//   Call("UIThreadId", bag)     puts the decimal id of the user-interface
//                               thread into the bag's text "gdt" -> MJ_S_OK;
//                               null bag -> MJ_E_POINTER. Other functions ->
//                               MJ_E_NOTIMPL, bag untouched.
//   Notify(name, a, b)          accepted and ignored -> MJ_S_OK.
//
// Document factory (CLSID_HubDocumentFactory):
//   Open(bag, out)              null out -> MJ_E_POINTER. Parses the file the
//                               bag's text "file" names as one JSON object.
//                               *out always receives a document: MJ_S_OK with
//                               the parsed one; MJ_E_FAIL (no bag:
//                               MJ_E_POINTER) with an empty one when the name
//                               is missing or the file cannot be read, does
//                               not parse, or is not a JSON object.
//   Get(key, bag)               top-level member `key`: string -> SetText,
//                               integer -> SetInt(MJ_PARAM_INT), double ->
//                               SetDouble, boolean -> SetInt(MJ_PARAM_BOOL),
//                               answering the bag's result. Missing member,
//                               null, array, object, or an empty document ->
//                               MJ_E_FAIL, bag untouched.
//
// Every object counts its references atomically and deletes itself at 0.
// Documents never change after Open, so Get may run on many threads at once.

#include <new>
#include <type_traits>

#include <mj/mj_interfaces.h>

#include "document.h"
#include "host_call.h"

MJ_EXPORT mj::result_t CreateMJObject(const mj::MJCLSID* clsid, void** object) {
    if (object == nullptr) return mj::MJ_E_POINTER;
    *object = nullptr;
    if (clsid == nullptr) return mj::MJ_E_NOTIMPL;

    if (*clsid == mj::CLSID_HubHostCall) {
        mj::IHubHostCall* call = new (std::nothrow) hubcore::HostCall();
        if (call == nullptr) return mj::MJ_E_FAIL;
        *object = call;
        return mj::MJ_S_OK;
    }
    if (*clsid == mj::CLSID_HubDocumentFactory) {
        mj::IHubDocumentFactory* factory = new (std::nothrow) hubcore::DocumentFactory();
        if (factory == nullptr) return mj::MJ_E_FAIL;
        *object = factory;
        return mj::MJ_S_OK;
    }
    return mj::MJ_E_NOTIMPL;
}

MJ_EXPORT void HubSetUIThreadId(uint32_t thread_id) {
    hubcore::set_ui_thread_id(thread_id);
}

// Callers find both functions by name and call them through the pointer
// types of the sdk header; a mismatch would only show at run time.
static_assert(std::is_same<decltype(&CreateMJObject), mj::PFN_CreateMJObject>::value, "");
static_assert(std::is_same<decltype(&HubSetUIThreadId), mj::PFN_HubSetUIThreadId>::value, "");
