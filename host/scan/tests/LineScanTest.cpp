// A scan run as a site engineer runs it, bench_host --scan, against a
// simulated line whose meters sit at stations and a framing the test chose
// and the scan is not told: it finds exactly those, says what each
// answered, and writes settings the bench host then polls without a loss.
#include "ScratchDirectory.h"
#include "TextPattern.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sstream>

namespace {

const std::string kSettings = std::string(QVT7702_EXAMPLES) + "/qvt7702-settings.json";

// "found: station 17 at 19200:8E1, ..." lines: (station, framing, the rest).
std::vector<std::tuple<int, std::string, std::string>> Found(const std::string& out) {
    std::vector<std::tuple<int, std::string, std::string>> found;
    std::istringstream lines(out);
    for (std::string text; std::getline(lines, text);) {
        const auto match = TextPattern::Whole("found: station # at #:8*, #.# ms: *", text);
        // The framing: 8 data bits, a parity letter and 1 or 2 stop bits.
        if (match && match->at(2).size() == 2 &&
            std::string("NEO").find(match->at(2)[0]) != std::string::npos &&
            (match->at(2)[1] == '1' || match->at(2)[1] == '2'))
            found.emplace_back(std::stoi(match->at(0)), match->at(1) + ":8" + match->at(2),
                               match->at(5));
    }
    return found;
}

std::string LineStarting(const std::string& out, const std::string& start) {
    std::istringstream lines(out);
    std::string text;
    while (std::getline(lines, text))
        if (text.rfind(start, 0) == 0)
            return text;
    return "";
}

// Splits a printed command into its words (no word holds a space here).
std::vector<std::string> Words(const std::string& command) {
    std::istringstream in(command);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

TEST(LineScanTest, FindsMetersAtUnknownStationsAndFramingAndItsSettingsPollCleanly) {
    ScratchDirectory scratch;
    const ToolRun scan = ToolProcess::RunToEnd(
        BENCH_HOST,
        {"--scan", "--settings", kSettings, "--stations", "1-20,200-210", "--framings",
         "9600:8N1,19200:8E1,19200:8O1,19200:8N2", "--sim-stations", "17,203",
         "--sim-framing", "19200:8E1", "--write-settings", scratch.File("line")},
        scratch.Path());
    ASSERT_EQ(scan.status, 0) << scan.err;
    const auto found = Found(scan.out);
    ASSERT_EQ(found.size(), 2u) << scan.out;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(std::get<0>(found[i]), i == 0 ? 17 : 203);
        EXPECT_EQ(std::get<1>(found[i]), "19200:8E1");
        EXPECT_EQ(std::get<2>(found[i]).rfind("the meter's 58-byte block: Ua ", 0), 0u)
            << std::get<2>(found[i]);
    }
    EXPECT_NE(scan.out.find("scan done: 124 requests in "), std::string::npos) << scan.out;

    // The printed command polls them, with nothing lost.
    std::vector<std::string> poll = Words(LineStarting(scan.out, "poll: bench_host "));
    ASSERT_GT(poll.size(), 2u) << scan.out;
    poll.erase(poll.begin(), poll.begin() + 2);
    poll.insert(poll.end(), {"--rounds", "4", "--interval", "0.1", "--history",
                             scratch.File("history.sqlite")});
    const ToolRun run = ToolProcess::RunToEnd(BENCH_HOST, poll, scratch.Path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("done: 4 rounds of 2 meters, 8 completed, 0 lost"), std::string::npos)
        << run.out;
    // The banner's line-up, which may wrap between its meters.
    for (const char* meter : {"station 17 data id 1217,", "station 203 data id 1403"})
        EXPECT_NE(run.out.find(meter), std::string::npos) << run.out;
}

// Every kind of answer is named for what it is; a station that says
// nothing is not reported at all.
TEST(LineScanTest, EachKindOfAnswerIsNamed) {
    struct Row {
        const char* fault;  // of station 4's every answer
        const char* says;
    };
    const Row rows[] = {
        {nullptr, "the meter's 58-byte block: Ua "},
        {"standard@4:*", "a standard 47-byte answer, not the driver's block (another make of meter?): 04 04 2A "},
        {"exception@4:*", "Modbus exception 02 (illegal data address)"},
        {"corrupt@4:*", "garbage, 58 bytes (the answer's checksum does not match its bytes; not handed "
                        "to the meter): 04 04 35 "},
        {"short@4:*", "garbage, 30 bytes (30 bytes, no complete answer within 0 ms): 04 04 35 "},
        {"station@4:*", "garbage, 58 bytes (the answer starts with 05, not station 4's address; not "
                        "handed to the meter): 05 04 35 "},
        {"silent@4:*", nullptr},
    };
    for (const Row& row : rows) {
        ScratchDirectory scratch;
        std::vector<std::string> args = {"--scan", "--settings", kSettings, "--stations", "3-5",
                                         "--framings", "19200:8N1", "--sim-stations", "4",
                                         "--sim-framing", "19200:8N1"};
        if (row.fault != nullptr)
            args.insert(args.end(), {"--sim-fault", row.fault});
        const ToolRun scan = ToolProcess::RunToEnd(BENCH_HOST, args, scratch.Path());
        ASSERT_EQ(scan.status, 0) << scan.err;
        const auto found = Found(scan.out);
        const std::string fault = row.fault != nullptr ? row.fault : "none";
        if (row.says == nullptr) {
            EXPECT_TRUE(found.empty()) << fault << ": " << scan.out;
            EXPECT_NE(scan.out.find("no station answered"), std::string::npos) << scan.out;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << fault << ": " << scan.out;
        EXPECT_EQ(std::get<0>(found[0]), 4) << fault;
        EXPECT_EQ(std::get<2>(found[0]).rfind(row.says, 0), 0u)
            << fault << ": " << std::get<2>(found[0]);
    }
}

// A stop signal ends a long scan at once with what it found so far, and
// still writes their settings.
TEST(LineScanTest, AStopSignalEndsTheScanWithWhatWasFound) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        ScratchDirectory scratch;
        ToolProcess scan(BENCH_HOST,
                         {"--scan", "--settings", kSettings, "--framings", "1200:8N1",
                          "--sim-stations", "2", "--sim-framing", "1200:8N1",
                          "--write-settings", scratch.File("line")},
                         scratch.Path());
        ASSERT_TRUE(scan.WaitForOutput("found: station 2 at 1200:8N1", std::chrono::seconds(20)))
            << scan.Stdout();
        const auto signalled = std::chrono::steady_clock::now();
        scan.Signal(signal_number);
        const std::optional<int> status = scan.WaitFor(std::chrono::seconds(5));
        ASSERT_TRUE(status) << "signal " << signal_number << " did not end the scan";
        EXPECT_EQ(*status, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
        const std::string out = scan.Stdout();
        EXPECT_NE(out.find("scan stopped: "), std::string::npos) << out;
        EXPECT_NE(out.find("1 answered: station 2 at 1200:8N1 (meter block)"), std::string::npos) << out;
        EXPECT_NE(out.find("settings: " + scratch.File("line") + "/qvt7702-station2.json, station 2, "
                           "data id 1202"),
                  std::string::npos)
            << out;
    }
}

}  // namespace
