// MJBase objects shared between threads, as quillnet shares its
// process-wide converter and hands bags around.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mjbase_test.h"

using mjtest::create;
using mjtest::W;

namespace {

TEST(MJBaseThreads, OneConverterServesManyThreads) {
    auto converter = create<mj::IMJTextConverter>(mj::CLSID_MJTextConverter);
    ASSERT_TRUE(converter);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const mjtest::wstring text = W(u"\u4E2D\u6587 path ") + static_cast<mj::wchar>(u'0' + t);
            const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87 path " + std::string(1, static_cast<char>('0' + t));
            const std::string gbk = "\xD6\xD0\xCE\xC4 path " + std::string(1, static_cast<char>('0' + t));
            for (int i = 0; i < 300; ++i) {
                const bool use_gbk = (i + t) % 2 == 0;
                char narrow[64];
                mj::MJConvertRequest to_cp{use_gbk ? mj::MJ_CP_GBK : mj::MJ_CP_UTF8,
                                           static_cast<uint32_t>(text.size()), sizeof(narrow), 0, text.data(), narrow};
                if (converter->Convert(mj::MJ_CONVERT_FROM_WIDE, &to_cp) != mj::MJ_S_OK ||
                    std::string(narrow) != (use_gbk ? gbk : utf8)) {
                    ++wrong;
                }
                mj::wchar wide[64];
                mj::MJConvertRequest back{to_cp.code_page, to_cp.result, 64, 0, narrow, wide};
                if (converter->Convert(mj::MJ_CONVERT_TO_WIDE, &back) != mj::MJ_S_OK ||
                    mjtest::wstring(wide) != text) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(MJBaseThreads, ParamBagAcceptsConcurrentReadersAndWriters) {
    auto bag = create<mj::IMJParamBag>(mj::CLSID_MJParamBag);
    ASSERT_TRUE(bag);
    ASSERT_EQ(bag->SetText("shared", "initial"), mj::MJ_S_OK);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "own" + std::to_string(t);
            for (int i = 0; i < 500; ++i) {
                const std::string value(static_cast<size_t>(1 + (i * 7 + t) % 40), static_cast<char>('a' + t));
                bag->SetText("shared", value.c_str());
                bag->SetInt(own.c_str(), i, mj::MJ_PARAM_INT);
                // The size-then-fetch protocol may see another writer's value
                // in between; the answer is then "more data" again, never junk.
                int32_t size = 0;
                if (bag->GetText("shared", nullptr, &size) != mj::MJ_E_MORE_DATA || size < 2) ++wrong;
                std::vector<char> buf(static_cast<size_t>(size));
                const mj::result_t rc = bag->GetText("shared", buf.data(), &size);
                if (rc == mj::MJ_S_OK) {
                    const std::string got(buf.data());
                    if (got.empty() || got.find_first_not_of(got[0]) != std::string::npos) ++wrong;
                } else if (rc != mj::MJ_E_MORE_DATA) {
                    ++wrong;
                }
                int64_t n = -1;
                if (bag->GetInt(own.c_str(), &n) != mj::MJ_S_OK || n != i) ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(MJBaseThreads, LastReleaseOnAnyThreadDeletesOnce) {
    for (int round = 0; round < 20; ++round) {
        auto* sink = create<mj::IMJLogSink>(mj::CLSID_MJLogSink).leak();
        ASSERT_NE(sink, nullptr);
        constexpr int kThreads = 8;
        for (int t = 1; t < kThreads; ++t) sink->AddRef();
        std::atomic<int> zeros{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 200; ++i) {
                    sink->AddRef();
                    sink->SetLevel(static_cast<uint32_t>(i));
                    sink->Release();
                }
                if (sink->Release() == 0) ++zeros;
            });
        }
        for (auto& th : threads) th.join();
        EXPECT_EQ(zeros.load(), 1);
    }
}

}  // namespace
