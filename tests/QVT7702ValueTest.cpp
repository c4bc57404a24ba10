#include "MeterAnswer.h"
#include "ProbeFixture.h"
#include "QVT7702.h"

#include <cstring>
#include <stdexcept>

namespace {

using boost::posix_time::hours;
using boost::posix_time::ptime;
using boost::posix_time::seconds;

const char* const kKeys[] = {"Ua", "Ub", "Uc", "Uab", "Ubc", "Uca", "Ia", "Ic"};

class MeterValueTest : public ProbeFixture {
protected:
    void SetUp() override {
        ProbeFixture::SetUp();
        Probe().recording = false;
    }

    void DeliverAnswer(const std::array<std::uint16_t, 12>& words) {
        std::vector<unsigned char> answer = MeterAnswer(words);
        testing::internal::CaptureStdout();
        meter.process(answer.data(), 58);
        testing::internal::GetCapturedStdout();
    }

    // The message Get_Value throws for `key`, or "" when it answers.
    std::string Failure(const std::string& key, unsigned int index = 0) const {
        try {
            meter.Get_Value(index, key);
            return "";
        } catch (const std::out_of_range& failure) {
            return failure.what();
        }
    }

    // Queries `key` with the latest round `age` seconds in the past. The
    // clock ticks in whole seconds; a query that straddles a tick is repeated
    // so that the age seen is exactly the one asked for.
    std::string FailureAtAge(const std::string& key, boost::posix_time::time_duration age) {
        for (;;) {
            const ptime now = Now();
            meter.last_update_ = now - age;
            const std::string failure = Failure(key);
            if (Now() == now)
                return failure;
        }
    }

    QVT7702 meter;
};

TEST_F(MeterValueTest, EveryKeyAnswersNotReadyBeforeTheFirstRound) {
    for (const char* key : kKeys)
        EXPECT_EQ(Failure(key), "数据未就绪") << key;
    EXPECT_EQ(Failure("Zz"), "数据未就绪");
    EXPECT_EQ(Failure(""), "数据未就绪");
}

TEST_F(MeterValueTest, VoltagesAreScaledToVoltsAndCurrentsAreRaw) {
    DeliverAnswer(TypicalWords());
    EXPECT_EQ(meter.Get_Value(0, "Ua"), 23012.0f / 100.0f);
    EXPECT_FLOAT_EQ(meter.Get_Value(0, "Ua"), 230.12f);
    EXPECT_EQ(meter.Get_Value(0, "Ub"), 23100.0f / 100.0f);
    EXPECT_EQ(meter.Get_Value(0, "Uc"), 22950.0f / 100.0f);
    EXPECT_EQ(meter.Get_Value(0, "Uab"), 40010.0f / 100.0f);
    EXPECT_EQ(meter.Get_Value(0, "Ubc"), 39990.0f / 100.0f);
    EXPECT_EQ(meter.Get_Value(0, "Uca"), 40020.0f / 100.0f);
    EXPECT_EQ(meter.Get_Value(0, "Ia"), 512.0f);
    EXPECT_EQ(meter.Get_Value(0, "Ic"), 498.0f);
}

TEST_F(MeterValueTest, VoltageIsADivisionNotAMultiplication) {
    // Words for which word / 100 and word * 0.01 round to different floats
    // (23010 gives 230.100006 against 230.099991), one for every voltage.
    const std::array<std::uint16_t, 12> words = {0, 40020, 9, 15, 23010, 5, 27, 0, 10, 20, 0, 0};
    for (const std::uint16_t word : {40020, 9, 15, 23010, 5, 27})
        ASSERT_NE(static_cast<float>(word) / 100.0f, static_cast<float>(word) * 0.01f) << word;
    DeliverAnswer(words);
    const std::pair<const char*, int> voltages[] = {{"Ua", 4},  {"Ub", 5},  {"Uc", 6},
                                                    {"Uab", 1}, {"Ubc", 2}, {"Uca", 3}};
    for (const auto& [key, element] : voltages) {
        const float value = meter.Get_Value(0, key);
        const float expected = static_cast<float>(words[element]) / 100.0f;
        std::uint32_t bits;
        std::uint32_t expected_bits;
        std::memcpy(&bits, &value, sizeof bits);
        std::memcpy(&expected_bits, &expected, sizeof expected_bits);
        EXPECT_EQ(bits, expected_bits) << key;
    }
}

TEST_F(MeterValueTest, UnkeyedWordsAndLookAlikeKeysAreNotSupported) {
    DeliverAnswer(TypicalWords());
    for (const char* key : {"ua", "UA", "Ib", "Ua ", " Ua", "", "U", "Uabc"})
        EXPECT_EQ(Failure(key), "不支持变量") << '"' << key << '"';
    EXPECT_EQ(Failure(std::string("Ua\0", 3)), "不支持变量");
}

TEST_F(MeterValueTest, IndexArgumentMakesNoDifference) {
    DeliverAnswer(TypicalWords());
    for (unsigned int index : {0u, 1u, 7u, 4294967295u})
        EXPECT_EQ(meter.Get_Value(index, "Ia"), 512.0f);
}

TEST_F(MeterValueTest, DataUpToSixtySecondsOldIsServed) {
    DeliverAnswer(TypicalWords());
    EXPECT_EQ(FailureAtAge("Ua", seconds(60)), "");
    EXPECT_EQ(FailureAtAge("Ua", seconds(61)), "数据已超时");
    EXPECT_EQ(FailureAtAge("Ia", hours(24)), "数据已超时");
}

TEST_F(MeterValueTest, StaleDataTimesOutBeforeTheKeyIsLookedAt) {
    DeliverAnswer(TypicalWords());
    EXPECT_EQ(FailureAtAge("nonsense", seconds(61)), "数据已超时");
    EXPECT_EQ(FailureAtAge("nonsense", seconds(0)), "不支持变量");
}

TEST_F(MeterValueTest, ClockSetBackAfterTheRoundStillServesValues) {
    DeliverAnswer(TypicalWords());
    EXPECT_EQ(FailureAtAge("Ua", -hours(1)), "");
}

TEST_F(MeterValueTest, QueryLeavesTheDeviceUnchanged) {
    DeliverAnswer(TypicalWords());
    const ptime stamp = meter.last_update_;
    std::vector<unsigned char> before(reinterpret_cast<unsigned char*>(&meter),
                                      reinterpret_cast<unsigned char*>(&meter) + sizeof(QVT7702));
    meter.Get_Value(0, "Ua");
    Failure("nope");
    EXPECT_EQ(meter.last_update_, stamp);
    EXPECT_EQ(0, std::memcmp(before.data(), static_cast<const void*>(&meter), sizeof(QVT7702)));
}

}  // namespace
