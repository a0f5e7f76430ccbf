// Beside this executable lies a module file named like MJBase that has no
// CreateMJObject.
#include <gtest/gtest.h>

#include <regex>

#include "host/module_loader.h"
#include "platform/platform.h"

TEST(BrokenModules, MissingFactoryIsReportedOnStandardOutput) {
    const std::string path = qn::platform::executable_dir() + qn::platform::module_file_name("MJBase.dll");
    const std::string literal = std::regex_replace(path, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
    ::testing::internal::CaptureStdout();
    CModuleLoader loader("MJBase.dll");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(out, std::regex("dll_load \\[" + literal + "\\] \\[CreateMJObject\\] err:127\n")))
        << out;
    void* object = nullptr;
    EXPECT_EQ(loader.CreateObject(mj::CLSID_MJParamBag, &object), mj::MJ_E_FAIL);
    EXPECT_EQ(object, nullptr);
}
