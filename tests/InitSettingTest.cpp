#include "ProbeFixture.h"
#include "RecordTestDevice.h"

#include <json/reader.h>

#include <climits>

namespace {

using Lines = std::vector<std::string>;
using TextMap = std::map<std::string, std::string>;

Json::Value Parse(const std::string& text) {
    Json::Value tree;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &tree, &errors))
        throw std::invalid_argument("test settings do not parse: " + errors);
    return tree;
}

class InitSettingTest : public ProbeFixture {
protected:
    void SetUp() override {
        ProbeFixture::SetUp();
        device.data_id_ = 12;
    }

    // Runs InitSetting on `text`; returns the trace lines it wrote.
    Lines Configure(const std::string& text) { return ConfigureTree(Parse(text)); }

    Lines ConfigureTree(const Json::Value& tree) {
        testing::internal::CaptureStdout();
        result = device.InitSetting(tree);
        return SplitLines(testing::internal::GetCapturedStdout());
    }

    // Like Configure, for a tree the JSON library refuses partway through.
    Lines ConfigureFailing(const std::string& text) {
        const Json::Value tree = Parse(text);
        testing::internal::CaptureStdout();
        EXPECT_THROW(device.InitSetting(tree), Json::Exception);
        return SplitLines(testing::internal::GetCapturedStdout());
    }

    // A mode-3 tree around the given "thresholdSetting" text.
    static std::string ModeThree(const std::string& table) {
        return R"({"appSetting":{"b_mode":"3"},"thresholdSetting":)" + table + "}";
    }

    bool BaseCalled() const { return !Probe().CallsNamed("SPModbus::InitSetting").empty(); }

    RecordTestDevice device;
    int result = 0;
};

TEST_F(InitSettingTest, WorkedExampleTraceAndMaps) {
    device.threshold_levels_ = {{"Ua", 1}};
    Probe().init_setting_result = 42;
    const std::string text = ModeThree(
        R"({"Ua":{"SignalName":"PhaseA","NMAlarmID":"A1","SignalNumber":"2"},"Ub":5})");

    EXPECT_EQ(Configure(text), (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2", "here Ua",
                                      "12 ID is missing", "mobile:Ua:A1;;2; level:1 value:0",
                                      "here Ub"}));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(device.b_mode_, 3);
    EXPECT_EQ(device.signal_names_, (TextMap{{"Ua", "PhaseA"}}));
    EXPECT_EQ(device.alarm_ids_, (TextMap{{"Ua", "A1;;2;"}}));
    EXPECT_EQ(device.threshold_values_, (std::map<std::string, float>{{"Ua", 0.0f}}));
    EXPECT_EQ(device.threshold_levels_, (std::map<std::string, int>{{"Ua", 1}}));
    EXPECT_EQ(std::uint32_t{device.Record().data_id}, 12u);

    const std::vector<FrameworkCall> base = Probe().CallsNamed("SPModbus::InitSetting");
    ASSERT_EQ(base.size(), 1u);
    EXPECT_EQ(base[0].settings, Parse(text));
}

TEST_F(InitSettingTest, WithoutAppSettingOnlyTheDataIdIsTaken) {
    device.threshold_levels_ = {{"Ua", 1}};
    EXPECT_EQ(Configure(R"({"thresholdSetting":{"Ua":{"ID":"1"}}})"), Lines{});
    EXPECT_EQ(device.b_mode_, 1);
    EXPECT_EQ(std::uint32_t{device.Record().data_id}, 12u);
    EXPECT_TRUE(BaseCalled());
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(device.alarm_ids_.empty());
    EXPECT_EQ(device.threshold_values_.size(), 0u);
}

TEST_F(InitSettingTest, AppSettingThatIsNotAnObjectOrModeThatIsNullIsIgnored) {
    for (const char* text : {R"({"appSetting":"3"})", R"({"appSetting":["3"]})",
                             R"({"appSetting":null})", R"({"appSetting":{"b_mode":null}})",
                             R"({"appSetting":{}})"}) {
        EXPECT_EQ(Configure(text), Lines{}) << text;
        EXPECT_EQ(device.b_mode_, 1) << text;
    }
}

TEST_F(InitSettingTest, ModeTextIsReadLikeAtoi) {
    const std::pair<const char*, int> cases[] = {
        {"3", 3},     {"  3", 3},  {"\t\n3", 3},     {"3abc", 3},  {"abc", 0},
        {"", 0},      {"-2", -2},  {"+7", 7},        {"0x10", 0},  {"2147483647", INT_MAX},
        {"- 3", 0},   {"007", 7},  {"-2147483648", INT_MIN},
    };
    for (const auto& [text, mode] : cases) {
        Json::Value tree;
        tree["appSetting"]["b_mode"] = text;
        const Lines trace = ConfigureTree(tree);
        ASSERT_FALSE(trace.empty()) << text;
        EXPECT_EQ(trace[0], "InitSetting 12 b_mode_:" + std::to_string(mode)) << text;
        EXPECT_EQ(device.b_mode_, mode) << text;
    }
}

TEST_F(InitSettingTest, ModeBeyondIntIsClampedNotUndefined) {
    Configure(R"({"appSetting":{"b_mode":"99999999999"}})");
    EXPECT_EQ(device.b_mode_, INT_MAX);
    Configure(R"({"appSetting":{"b_mode":"-99999999999999999999999"}})");
    EXPECT_EQ(device.b_mode_, INT_MIN);
    Configure(R"({"appSetting":{"b_mode":"2147483648"}})");
    EXPECT_EQ(device.b_mode_, INT_MAX);
}

TEST_F(InitSettingTest, ModeGivenAsANumberIsReadFromItsText) {
    EXPECT_EQ(Configure(R"({"appSetting":{"b_mode":3}})"), (Lines{"InitSetting 12 b_mode_:3", "here 1"}));
}

TEST_F(InitSettingTest, OtherModesIgnoreTheTable) {
    // Modes on both sides of 3, including a text clamped to the largest int:
    // only exactly 3 turns the table on.
    const std::pair<const char*, int> modes[] = {
        {"0", 0}, {"1", 1}, {"2", 2}, {"4", 4}, {"-3", -3}, {"99999999999", INT_MAX}};
    for (const auto& [mode, parsed] : modes) {
        const std::string text = std::string(R"({"appSetting":{"b_mode":")") + mode +
                                 R"("},"thresholdSetting":{"Ua":{"NMAlarmID":"A"}}})";
        EXPECT_EQ(Configure(text), Lines{"InitSetting 12 b_mode_:" + std::to_string(parsed)});
    }
    EXPECT_TRUE(device.alarm_ids_.empty());
    EXPECT_TRUE(device.threshold_levels_.empty());
    EXPECT_TRUE(device.threshold_values_.empty());
}

TEST_F(InitSettingTest, ModeThreeWithoutOrWithAnEmptyOrScalarTable) {
    EXPECT_EQ(Configure(R"({"appSetting":{"b_mode":"3"}})"), (Lines{"InitSetting 12 b_mode_:3", "here 1"}));
    for (const char* table : {"{}", "7", "\"text\"", "true"})
        EXPECT_EQ(Configure(ModeThree(table)),
                  (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2"})) << table;
    EXPECT_EQ(Probe().CallsNamed("SPModbus::InitSetting").size(), 5u);
}

TEST_F(InitSettingTest, MembersThatAreNotObjectsOnlyGetTheirHereLine) {
    EXPECT_EQ(Configure(ModeThree(R"({"Ia":"x","Ib":[1,2],"Ic":null,"Ua":12})")),
              (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2", "here Ia", "here Ib", "here Ic",
                     "here Ua"}));
    EXPECT_TRUE(device.alarm_ids_.empty());
    EXPECT_TRUE(device.signal_names_.empty());
    EXPECT_TRUE(device.threshold_levels_.empty());
    EXPECT_TRUE(device.threshold_values_.empty());
}

TEST_F(InitSettingTest, MemberWithNoKeysGetsThreeMissingLinesAndEmptyParts) {
    EXPECT_EQ(Configure(ModeThree(R"({"Uc":{"Other":"1"}})")),
              (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2", "here Uc",
                     "12 NMAlarmID is missing", "12 ID is missing", "12 SignalNumber is missing",
                     "mobile:Uc:;;; level:0 value:0"}));
    EXPECT_EQ(device.alarm_ids_, (TextMap{{"Uc", ";;;"}}));
    EXPECT_TRUE(device.signal_names_.empty());
    EXPECT_EQ(device.threshold_levels_, (std::map<std::string, int>{{"Uc", 0}}));
    EXPECT_EQ(device.threshold_values_, (std::map<std::string, float>{{"Uc", 0.0f}}));
}

TEST_F(InitSettingTest, NullPartsCountAsMissingAndPartsAreCopiedVerbatim) {
    device.threshold_levels_ = {{"Ua", -4}};
    device.threshold_values_ = {{"Ua", 253.5f}};
    EXPECT_EQ(Configure(ModeThree(
                  R"({"Ua":{"SignalName":null,"NMAlarmID":"A;1","ID":null,"SignalNumber":" 2 "}})")),
              (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2", "here Ua", "12 ID is missing",
                     "mobile:Ua:A;1;; 2 ; level:-4 value:253.5"}));
    EXPECT_EQ(device.alarm_ids_, (TextMap{{"Ua", "A;1;; 2 ;"}}));
    EXPECT_TRUE(device.signal_names_.empty());
}

TEST_F(InitSettingTest, LaterCallsKeepModeAndEarlierEntries) {
    Configure(ModeThree(R"({"Ua":{"SignalName":"A","NMAlarmID":"1","ID":"2","SignalNumber":"3"},
                            "Ub":{"SignalName":"B","NMAlarmID":"4","ID":"5","SignalNumber":"6"}})"));
    // No "appSetting": the mode stays 3 and the new table is walked.
    EXPECT_EQ(Configure(R"({"thresholdSetting":{"Ua":{"NMAlarmID":"9","ID":"9","SignalNumber":"9"}}})"),
              (Lines{"here 1", "here 2", "here Ua", "mobile:Ua:9;9;9; level:0 value:0"}));
    EXPECT_EQ(device.alarm_ids_, (TextMap{{"Ua", "9;9;9;"}, {"Ub", "4;5;6;"}}));
    EXPECT_EQ(device.signal_names_, (TextMap{{"Ua", "A"}, {"Ub", "B"}})) << "name kept without a new one";
}

TEST_F(InitSettingTest, JsonLibraryErrorStopsBeforeTheBaseAndKeepsWhatWasRead) {
    // An object where text is expected: the library refuses asString.
    const Lines trace = ConfigureFailing(ModeThree(
        R"({"Ua":{"NMAlarmID":"1","ID":"2","SignalNumber":"3"},"Ub":{"NMAlarmID":{"x":1}}})"));
    EXPECT_EQ(trace.back(), "here Ub");
    EXPECT_FALSE(BaseCalled());
    EXPECT_EQ(device.b_mode_, 3);
    EXPECT_EQ(device.alarm_ids_, (TextMap{{"Ua", "1;2;3;"}}));
    EXPECT_EQ(std::uint32_t{device.Record().data_id}, 12u);

    // A table given as an array: its members cannot be looked up by name.
    EXPECT_EQ(ConfigureFailing(ModeThree(R"([{"ID":"1"}])")),
              (Lines{"InitSetting 12 b_mode_:3", "here 1", "here 2", "here 0"}));
    // A mode given as an object.
    ConfigureFailing(R"({"appSetting":{"b_mode":{"v":3}}})");
    EXPECT_FALSE(BaseCalled());
}

TEST_F(InitSettingTest, SettingsTreeIsNotChanged) {
    const std::string text = ModeThree(R"({"Ua":{"SignalName":"A"},"Ub":3})");
    const Json::Value tree = Parse(text);
    const Json::Value copy = tree;
    testing::internal::CaptureStdout();
    device.InitSetting(tree);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(tree, copy);
}

TEST_F(InitSettingTest, BaseFailurePassesThrough) {
    Probe().failing = {"SPModbus::InitSetting"};
    const Json::Value tree = Parse(R"({"appSetting":{"b_mode":"2"}})");
    testing::internal::CaptureStdout();
    EXPECT_THROW(device.InitSetting(tree), std::runtime_error);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(device.b_mode_, 2);
}

}  // namespace
