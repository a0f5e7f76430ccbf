#include "hub_test.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform.h"

namespace hubtest {

const HubModule& hub() {
    static const HubModule module = [] {
        HubModule m;
        const std::string path =
            qn::platform::executable_dir() + qn::platform::module_file_name("hubcore.dll");
        qn::platform::ModuleHandle handle = qn::platform::load_module_path(path);
        if (handle == nullptr) {
            ADD_FAILURE() << "cannot load " << path;
            return m;
        }
        // Never unloaded: objects may outlive any one test's references.
        m.create = reinterpret_cast<mj::PFN_CreateMJObject>(
            qn::platform::find_symbol(handle, mj::kFactoryName));
        m.set_ui_thread = reinterpret_cast<mj::PFN_HubSetUIThreadId>(
            qn::platform::find_symbol(handle, mj::kSetUIThreadIdName));
        EXPECT_NE(m.create, nullptr);
        EXPECT_NE(m.set_ui_thread, nullptr);
        return m;
    }();
    return module;
}

Ref<mj::IMJParamBag> make_bag() {
    // The bags come from the real MJBase module, as they do for quillnet.
    static const mj::PFN_CreateMJObject create_in_mjbase = [] {
        const std::string path =
            qn::platform::executable_dir() + qn::platform::module_file_name("MJBase.dll");
        qn::platform::ModuleHandle handle = qn::platform::load_module_path(path);
        if (handle == nullptr) ADD_FAILURE() << "cannot load " << path;
        return reinterpret_cast<mj::PFN_CreateMJObject>(qn::platform::find_symbol(handle, mj::kFactoryName));
    }();
    void* bag = nullptr;
    if (create_in_mjbase == nullptr || create_in_mjbase(&mj::CLSID_MJParamBag, &bag) != mj::MJ_S_OK) {
        ADD_FAILURE() << "MJBase gives no parameter bag";
        return Ref<mj::IMJParamBag>();
    }
    return Ref<mj::IMJParamBag>(static_cast<mj::IMJParamBag*>(bag));
}

std::optional<std::string> bag_text(mj::IMJParamBag* bag, const char* name) {
    int32_t size = 0;
    if (bag->GetText(name, nullptr, &size) != mj::MJ_E_MORE_DATA || size < 1) return std::nullopt;
    std::vector<char> buffer(static_cast<size_t>(size), 'x');
    if (bag->GetText(name, buffer.data(), &size) != mj::MJ_S_OK) return std::nullopt;
    return std::string(buffer.data());
}

std::optional<int32_t> bag_type(mj::IMJParamBag* bag, const char* name) {
    int32_t type = 0;
    if (bag->GetType(name, &type) != mj::MJ_S_OK) return std::nullopt;
    return type;
}

Ref<mj::IHubDocument> open_document(const std::string& path, mj::result_t* status) {
    Ref<mj::IHubDocumentFactory> factory = create<mj::IHubDocumentFactory>(mj::CLSID_HubDocumentFactory);
    EXPECT_TRUE(factory);
    Ref<mj::IHubDocument> doc;
    if (!factory) return doc;
    Ref<mj::IMJParamBag> bag = make_bag();
    EXPECT_EQ(bag->SetText("file", path.c_str()), mj::MJ_S_OK);
    const mj::result_t rc = factory->Open(bag.get(), doc.put());
    if (status != nullptr) *status = rc;
    return doc;
}

}  // namespace hubtest
