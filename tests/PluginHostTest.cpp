// Acts as the controller: this process carries the framework, loads the
// shipped qvt7702.so and drives meters through their virtual tables only.
#include "MeterAnswer.h"
#include "ProbeFixture.h"
#include "SMDSPDevice.h"
#include "SMDSPDeviceProvider.h"
#include "get_providers.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

namespace {

using GetProviders = decltype(&get_providers);

class PluginHostTest : public ProbeFixture {
protected:
    void SetUp() override {
        ProbeFixture::SetUp();
        library = dlopen(QVT7702_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        entry = reinterpret_cast<GetProviders>(dlsym(library, "get_providers"));
        ASSERT_NE(entry, nullptr) << dlerror();
    }

    void TearDown() override {
        if (library != nullptr) {
            EXPECT_EQ(dlclose(library), 0) << dlerror();
        }
        ProbeFixture::TearDown();
    }

    static std::string Failure(const SMDSPDevice& meter, const std::string& key) {
        try {
            meter.Get_Value(0, key);
            return "";
        } catch (const std::out_of_range& failure) {
            return failure.what();
        }
    }

    void* library = nullptr;
    GetProviders entry = nullptr;
};

TEST_F(PluginHostTest, ExportsOnlyItsEntryPoint) {
    EXPECT_EQ(dlsym(library, "_ZN7QVT770213RefreshStatusEv"), nullptr)
        << "driver internals stay inside the library";
}

TEST_F(PluginHostTest, EveryCallGivesOneNewProvider) {
    std::vector<std::shared_ptr<Provider>> first = entry();
    std::vector<std::shared_ptr<Provider>> second = entry();
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(first[0], second[0]);
    EXPECT_EQ(first[0].use_count(), 1);
    EXPECT_NE(dynamic_cast<SMDSPDeviceProvider*>(first[0].get()), nullptr);
}

TEST_F(PluginHostTest, MetersPollDecodeAnswerAndOutliveTheirProvider) {
    std::vector<std::shared_ptr<Provider>> providers = entry();
    auto* provider = dynamic_cast<SMDSPDeviceProvider*>(providers.at(0).get());
    ASSERT_NE(provider, nullptr);
    SMDSPDevice* polled = provider->create();
    SMDSPDevice* idle = provider->create();
    ASSERT_NE(polled, idle);
    providers.clear();  // the host may drop the provider; its meters stay valid

    EXPECT_EQ(polled->DeviceType(), "qvt7702");
    EXPECT_EQ(idle->baud_rate_, 9600);
    EXPECT_EQ(Failure(*polled, "Ua"), "数据未就绪");

    EXPECT_EQ(polled->RefreshStatus(), 1);
    ASSERT_EQ(Probe().CallsNamed("SendData").size(), 1u);
    EXPECT_EQ(Probe().CallsNamed("SendData")[0].bytes,
              (std::vector<unsigned char>{0x01, 0x04, 0x00, 0x00, 0x00, 0x15, 0x31, 0xC5}));

    std::vector<unsigned char> answer = MeterAnswer(TypicalWords());
    testing::internal::CaptureStdout();
    EXPECT_EQ(polled->process(answer.data(), 20), 1);
    EXPECT_EQ(polled->process(answer.data() + 20, 38), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rvSize is 0\n");

    EXPECT_EQ(polled->Get_Value(0, "Ua"), 230.12f);
    EXPECT_EQ(polled->Get_Value(0, "Ic"), 498.0f);
    EXPECT_EQ(Failure(*polled, "Ib"), "不支持变量");
    EXPECT_EQ(Failure(*idle, "Ua"), "数据未就绪") << "meters are independent";

    // The idle meter takes the polled one's published record from the cache.
    const std::vector<unsigned char> record = Probe().CallsNamed("SendSP").at(0).bytes;
    ASSERT_EQ(record.size(), 59u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(idle->LoadFromCache(std::string(record.begin(), record.end())), 1);
    EXPECT_EQ(idle->LoadFromCache(record.data(), 58), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(idle->Get_Value(0, "Uab"), 400.1f);

    delete polled;
    delete idle;
}

}  // namespace
