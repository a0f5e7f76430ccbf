// Beside this executable lies a module file named like MJBase without CreateMJObject.
#include <gtest/gtest.h>

#include "host/module_loader.h"
#include "platform/platform.h"

TEST(BrokenModules, MissingFactoryIsReportedOnStandardOutput) {
    const std::string path = qn::platform::executable_dir() + qn::platform::module_file_name("MJBase.dll");
    ::testing::internal::CaptureStdout();
    CModuleLoader loader("MJBase.dll");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "dll_load [" + path + "] [CreateMJObject] err:127\n");
    void* object = nullptr;
    EXPECT_EQ(loader.CreateObject(mj::CLSID_MJParamBag, &object), mj::MJ_E_FAIL);
}
