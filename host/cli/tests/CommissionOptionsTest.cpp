// The commissioning options as the command line gives them: what each
// means, and the sentence a combination that cannot work is refused with.
#include "BenchError.h"
#include "BenchOptions.h"
#include "LineChoices.h"

#include "ParseWords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BenchOptions Parse(const std::vector<std::string>& words) {
    return ParseWords(words);
}

TEST(CommissionOptionsTest, EachOptionMeansWhatItSays) {
    const BenchOptions scan = Parse({"--scan", "--stations", "1-3,9", "--framings",
                                     "19200:8E1,9600:8N1", "--write-settings", "line"});
    EXPECT_TRUE(scan.scan);
    EXPECT_EQ(LineChoices::StationsText(scan.scan_stations), "1-3,9");
    ASSERT_EQ(scan.scan_framings.size(), 2u);
    EXPECT_EQ(LineChoices::FramingText(scan.scan_framings[0]), "19200:8E1");
    EXPECT_EQ(scan.write_settings_dir, "line");

    const BenchOptions link = Parse({"--port", "/dev/ttyUSB0", "--rs485", "--rs485-delays", "2,5",
                                     "--open-pause", "300", "--request-gap", "20"});
    ASSERT_TRUE(link.link.rs485);
    EXPECT_EQ(link.link.rs485->delay_before_ms, 2u);
    EXPECT_EQ(link.link.rs485->delay_after_ms, 5u);
    EXPECT_EQ(link.link.open_pause.count(), 300);
    EXPECT_EQ(link.link.request_gap.count(), 20);

    const BenchOptions plain = Parse({});
    EXPECT_FALSE(plain.link.rs485) << "every link setting defaults to none";
    EXPECT_EQ(plain.link.open_pause.count(), 0);
    EXPECT_EQ(plain.link.request_gap.count(), 0);

    const BenchOptions simulated = Parse({"--sim-stations", "5,17", "--sim-framing", "19200:8O2"});
    EXPECT_EQ(LineChoices::StationsText(simulated.simulator_stations), "5,17");
    ASSERT_TRUE(simulated.simulator_framing);
    EXPECT_EQ(simulated.simulator_framing->parity, Parity::kOdd);
    EXPECT_EQ(simulated.simulator_framing->stop_bits, 2);

    EXPECT_NO_THROW(Parse({"--port", "tcp:127.0.0.1:4001", "--scan", "--framings", "19200:8E1"}));
}

TEST(CommissionOptionsTest, WhatCannotWorkIsRefusedWithItsReason) {
    struct Row {
        std::vector<std::string> words;
        std::string says;
    };
    const Row rows[] = {
        {{"--stations", "1-5"}, "--stations, --framings and --write-settings belong to --scan"},
        {{"--scan", "--stations", "0-5"}, "--stations: a station is from 1 to 247, not '0-5'"},
        {{"--scan", "--framings", "9600:7N1"}, "--framings: a framing is SPEED:8N1, 8E1, 8O1, 8N2, "
                                                "8E2 or 8O2, not '9600:7N1'"},
        {{"--scan", "--baud", "19200"}, "--scan tries the framings --framings names, not --baud, "
                                        "--parity or --stop-bits"},
        {{"--scan", "--csv"}, "--scan cannot be given with --dump, --csv or --plot"},
        {{"--scan", "--port", "tcp:gw:4001", "--framings", "9600:8N1,19200:8E1"},
         "a gateway's serial side is framed at the gateway: give --framings one framing, the one "
         "it is set to, or leave it out"},
        {{"--port", "tcp:gw"}, "--port: a gateway is tcp:HOST:PORT, not 'tcp:gw'"},
        {{"--port", "tcp:gw:70000"}, "--port: the gateway's port must be a number from 1 to 65535, "
                                     "not '70000'"},
        {{"--port", "tcp:gw:4001", "--rs485"}, "--rs485 sets a serial port of this machine, not a "
                                               "gateway's"},
        {{"--rs485-delays", "1,1"}, "--rs485-delays belongs to --rs485"},
        {{"--rs485", "--rs485-delays", "1;1"}, "--rs485-delays must be BEFORE,AFTER in whole ms "
                                              "from 0 to 1000, not '1;1'"},
        {{"--rs485", "--rs485-delays", "1,2,3"}, "--rs485-delays must be BEFORE,AFTER in whole ms "
                                                "from 0 to 1000, not '1,2,3'"},
        {{"--open-pause", "60001"}, "--open-pause must be from 0 to 60000 ms"},
        {{"--request-gap", "-1"}, "--request-gap must be from 0 to 60000 ms"},
        {{"--port", "/dev/ttyUSB0", "--sim-stations", "5"},
         "--sim-stations and --sim-framing apply to the simulated line, not to --port"},
        {{"--sim-framing", "fast"}, "--sim-framing: a framing is SPEED:8N1, 8E1, 8O1, 8N2, 8E2 or "
                                    "8O2 with a speed from 1 to 4000000, not 'fast'"},
    };
    for (const Row& row : rows) {
        std::string words;
        for (const std::string& word : row.words)
            words += word + " ";
        try {
            Parse(row.words);
            ADD_FAILURE() << words << "was taken";
        } catch (const BenchError& failure) {
            EXPECT_EQ(failure.Code(), ExitCode::kUsage) << words;
            EXPECT_EQ(std::string(failure.what()), row.says + " (see --help)") << words;
        }
    }
}

}  // namespace
