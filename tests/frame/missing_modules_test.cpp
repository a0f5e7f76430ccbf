// This executable lives in a folder without the host modules.
#include <gtest/gtest.h>

#include "host/host_objects.h"
#include "host/module_loader.h"
#include "host/text_convert.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "../mjbase/mjbase_test.h"

#if defined(_WIN32)
#include <windows.h>
// Windows would look in the current folder (the modules' own) too: a careful host does not.
static const bool kNoCurrentFolder = ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != 0;
#endif

// Every failed load is reported, and tried again by the next loader; the logger without a sink drops
// records; host calls fail quietly; the text converter, once missing, is never tried again.
TEST(MissingModules, LoadsAreRetriedAndEverythingElseFailsQuietly) {
    const std::string report = "LoadLibrary[" + qn::platform::executable_dir() +
                               qn::platform::module_file_name("MJBase.dll") + "] fail err:126\n";
    ::testing::internal::CaptureStderr();
    CModuleLoader loader("MJBase.dll");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), report);
    void* object = nullptr;
    EXPECT_EQ(loader.CreateObject(mj::CLSID_MJParamBag, &object), mj::MJ_E_FAIL);
    EXPECT_EQ(loader.CreateObject(mj::CLSID_MJParamBag, nullptr), mj::MJ_E_POINTER);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CLogger::instance().Write("nowhere to go\n", 35), -1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("** log_cfg: open faild. [quillnet]\n"), std::string::npos) << err;
    std::string answer = "untouched";
    EXPECT_EQ(qn::host::HostFunctionCall("UIThreadId", "ui_tid", &answer), mj::MJ_E_FAIL);
    EXPECT_EQ(answer, "untouched");
    EXPECT_FALSE(qn::host::OpenConfigDocument("/nonexistent.json"));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(qn::host::CreateEnvironment() || qn::host::CreateEnvironment());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), report + report);
    EXPECT_EQ(qn::WideToUtf8(mjtest::W(u"abc")), "");
    EXPECT_EQ(qn::Utf8ToWide("abc"), qn::mjwstring());
    // MJBase turning up later changes nothing.
    const std::string real = qn::platform::executable_dir() + "../" + qn::platform::module_file_name("MJBase.dll");
    ASSERT_NE(qn::platform::load_module_path(real), nullptr);
    EXPECT_EQ(qn::WideToUtf8(mjtest::W(u"abc")), "");
    EXPECT_EQ(qn::WideToCp936(mjtest::W(u"abc").c_str()), "");
}
