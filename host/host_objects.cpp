#include "host/host_objects.h"

#include <atomic>
#include <memory>
#include <new>

#include "host/module_loader.h"

namespace qn {
namespace host {

namespace {

const char kMJBaseModule[] = "MJBase.dll";
const char kHubcoreModule[] = "hubcore.dll";

// MJBase's loader is kept once it has found the module and its factory:
// objects made per use (a parameter bag for every host call, every document
// read) then cost neither building the path nor the module cache's lock. A
// loader that failed is not kept, so every later use tries, and reports,
// again, exactly as a fresh loader per use would.
mj::result_t CreateMJBaseObject(const mj::MJCLSID& clsid, void** object) {
    static std::atomic<const CModuleLoader*> kept{nullptr};
    if (const CModuleLoader* loader = kept.load(std::memory_order_acquire)) {
        return loader->CreateObject(clsid, object);
    }
    std::unique_ptr<CModuleLoader> fresh(new CModuleLoader(kMJBaseModule));
    const mj::result_t status = fresh->CreateObject(clsid, object);
    const CModuleLoader* none = nullptr;
    if (fresh->ready() && kept.compare_exchange_strong(none, fresh.get(), std::memory_order_acq_rel)) {
        fresh.release();  // lives until the process ends, like the module
    }
    return status;
}

template <class T>
MJRef<T> CreateFromMJBase(const mj::MJCLSID& clsid) {
    MJRef<T> ref;
    CreateMJBaseObject(clsid, ref.put());
    return ref;
}

}  // namespace

MJRef<mj::IMJEnvironment> CreateEnvironment() {
    return CreateFromMJBase<mj::IMJEnvironment>(mj::CLSID_MJEnvironment);
}

MJRef<mj::IMJParamBag> CreateParamBag() {
    return CreateFromMJBase<mj::IMJParamBag>(mj::CLSID_MJParamBag);
}

MJRef<mj::IMJFile> CreateFileObject() {
    return CreateFromMJBase<mj::IMJFile>(mj::CLSID_MJFile);
}

MJRef<mj::IMJLogSink> CreateLogSink() {
    return CreateFromMJBase<mj::IMJLogSink>(mj::CLSID_MJLogSink);
}

// The two hubcore objects live until the process ends: they are called
// from every thread that rewrites a URL or performs a transfer, up to exit.
MJRef<mj::IHubHostCall> HostCallObject() {
    static const MJRef<mj::IHubHostCall>* object = new MJRef<mj::IHubHostCall>(
        CModuleLoader(kHubcoreModule).Create<mj::IHubHostCall>(mj::CLSID_HubHostCall));
    return *object;
}

MJRef<mj::IHubDocumentFactory> DocumentFactory() {
    static const MJRef<mj::IHubDocumentFactory>* object = new MJRef<mj::IHubDocumentFactory>(
        CModuleLoader(kHubcoreModule).Create<mj::IHubDocumentFactory>(mj::CLSID_HubDocumentFactory));
    return *object;
}

std::string ReadBagText(mj::IMJParamBag* bag, const char* name, const std::string& fallback) {
    if (bag == nullptr) return fallback;
    int32_t size = 0;
    if (bag->GetText(name, nullptr, &size) != mj::MJ_E_MORE_DATA || size < 1) return fallback;
    const size_t capacity = static_cast<size_t>(size);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
    if (!buffer) return fallback;
    if (bag->GetText(name, buffer.get(), &size) != mj::MJ_S_OK) return fallback;
    buffer[capacity - 1] = '\0';  // never read past the block, whatever the bag wrote
    return std::string(buffer.get());
}

mj::result_t HostFunctionCall(const char* function, const char* key, std::string* result) {
    MJRef<mj::IHubHostCall> host = HostCallObject();
    if (!host) return mj::MJ_E_FAIL;
    // Without MJBase there is no bag to carry the question; the host cannot
    // be asked, which callers treat like a missing host.
    MJRef<mj::IMJParamBag> bag = CreateParamBag();
    if (!bag) return mj::MJ_E_FAIL;
    bag->SetText("gdk", key);
    const mj::result_t status = host->Call(function, bag.get());
    if (status == mj::MJ_S_OK) {
        std::string answer = ReadBagText(bag.get(), "gdt", std::string());
        if (!answer.empty() && result != nullptr) *result = std::move(answer);
    }
    return status;
}

MJRef<mj::IHubDocument> OpenConfigDocument(const std::string& path) {
    MJRef<mj::IHubDocument> document;
    MJRef<mj::IHubDocumentFactory> factory = DocumentFactory();
    if (!factory) return document;
    MJRef<mj::IMJParamBag> bag = CreateParamBag();
    if (!bag) return document;
    bag->SetText("file", path.c_str());
    factory->Open(bag.get(), document.put_typed());
    return document;
}

bool ReadDocumentText(mj::IHubDocument* document, const char* key, std::string* result) {
    if (document == nullptr) return false;
    MJRef<mj::IMJParamBag> bag = CreateParamBag();
    if (!bag) return false;
    if (document->Get(key, bag.get()) != mj::MJ_S_OK) return false;
    int32_t type = 0;
    if (bag->GetType(key, &type) != mj::MJ_S_OK || type != mj::MJ_PARAM_TEXT) return false;
    if (result != nullptr) *result = ReadBagText(bag.get(), key, std::string());
    return true;
}

}  // namespace host
}  // namespace qn
