// What the bench host is given, taken at its word or refused in one
// sentence before anything runs: the command line, the settings file and the
// serial port (the plug-in file's checks are in host/setup/tests, the line's
// own locking in host/serial/tests).
#include "BenchError.h"
#include "BenchHostTest.h"
#include "BenchOptions.h"
#include "FileBytes.h"
#include "DeviceSettings.h"
#include "HistoryPlot.h"
#include "HistoryStore.h"
#include "StatisticsJson.h"

#include "ParseWords.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace {

BenchOptions Parse(const std::vector<std::string>& words) {
    return ParseWords(words);
}

// The usage error the words are refused with; "" when they are taken.
std::string Refusal(const std::vector<std::string>& words) {
    try {
        Parse(words);
        return "";
    } catch (const BenchError& failure) {
        EXPECT_EQ(failure.Code(), ExitCode::kUsage);
        return failure.what();
    }
}

TEST(CommandLineTest, EveryWordMeansWhatItSaysOrIsRefused) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"5"}, "unexpected word '5' on the command line (options start with --)"},
        {{"--rounds", "3", "verbose"}, "unexpected word 'verbose'"},
        {{"--", "--rounds"}, "unexpected word '--rounds'"},
        {{"--port", ""}, "--port needs a path, not an empty word"},
        {{"--history", ""}, "--history needs a path"},
        {{"--plugin", ""}, "--plugin needs a path"},
        {{"--settings", ""}, "--settings needs a path"},
        {{"--rounds", "0"}, "--rounds must be at least 1 (leave it out to poll until Ctrl-C)"},
        {{"--rounds", "-1"}, "--rounds cannot be negative"},
        {{"--sim-fault", "short@2", "--sim-fault", "late@2"},
         "--sim-fault: two faults for request 2: short and late (one fault per request)"},
        {{"--sim-fault", "noise@4,4"}, "--sim-fault: request 4 is named twice for noise"},
        {{"--sim-fault", "busy@*", "--sim-fault", "twice@9"},
         "--sim-fault: two faults for one request: busy for every request and twice for 9"},
        {{"--sim-line", "stray", "--sim-line", "stray=2"}, "--sim-line: line fault stray given twice"},
        {{"--sim-line", "bursts=0"}, "--sim-line: bursts=0: MS must be from 1 to 1000"},
        {{"--sim-line", "hum"}, "--sim-line: unknown line fault 'hum'"},
        {{"--port", "/dev/ttyUSB0", "--sim-line", "delay"}, "--sim-line and --sim-echo apply to the simulated"},
    };
    for (const auto& [words, message] : refused) {
        const std::string refusal = Refusal(words);
        EXPECT_NE(refusal.find(message), std::string::npos)
            << words.front() << " gave: '" << refusal << "'";
    }

    EXPECT_EQ(Parse({}).rounds, 0u) << "no --rounds: until Ctrl-C";
    EXPECT_EQ(Parse({"--rounds", "1"}).rounds, 1u);
    EXPECT_EQ(Parse({}).port, "") << "no --port: the simulated meter";
    EXPECT_EQ(Parse({"--port", "/dev/ttyUSB0"}).port, "/dev/ttyUSB0");
    const BenchOptions faults = Parse({"--sim-fault", "short@2", "--sim-fault", "late@3"});
    EXPECT_EQ(faults.simulator_faults.At(2), MeterFault::kShort);
    EXPECT_EQ(faults.simulator_faults.At(3), MeterFault::kLate);
    const BenchOptions line = Parse({"--sim-line", "delay=45", "--sim-line", "bursts",
                                     "--sim-fault", "neighbour@2:*"});
    EXPECT_EQ(line.simulator_line.Texts(), (std::vector<std::string>{"bursts=16", "delay=45"}));
    EXPECT_EQ(line.simulator_faults.At(2, 77, false), MeterFault::kNeighbour);
}

// A numeric option's bound: taken at its value, refused one past it, and
// named in the help text from the same constant.
struct Bound {
    std::vector<std::string> with;  // what else the option needs
    const char* option;
    long long highest;
    std::function<long long(const BenchOptions&)> taken;
    std::string refusal;
    std::string help;
};

TEST(CommandLineTest, EachUpperBoundIsTakenAtItsValueAndRefusedPastIt) {
    const std::string wait = std::to_string(BenchOptions::kLongestWaitMs);
    const std::vector<Bound> bounds = {
        {{}, "--late-limit", BenchOptions::kLongestWaitMs,
         [](const BenchOptions& o) { return static_cast<long long>(o.late_limit_ms); },
         "--late-limit must be from 1 to " + wait + " ms", "in ms, 1 to " + wait + ":"},
        {{}, "--timeout", BenchOptions::kLongestWaitMs,
         [](const BenchOptions& o) { return static_cast<long long>(o.timeout_ms); },
         "--timeout must be from 1 to " + wait + " ms", "in ms, 1 to " + wait + " (default"},
        {{}, "--sim-late", BenchOptions::kLongestWaitMs,
         [](const BenchOptions& o) { return static_cast<long long>(o.simulator_late_ms); },
         "--sim-late must be from 0 to " + wait + " ms", "in ms, 0 to " + wait + " (default"},
        {{}, "--sim-copy-gap", kMostFollowingGapCharacters,
         [](const BenchOptions& o) { return static_cast<long long>(o.simulator_copy_gap); },
         "--sim-copy-gap must be from 0 to " + std::to_string(kMostFollowingGapCharacters) +
             " characters",
         "answer, 0 to " + std::to_string(kMostFollowingGapCharacters) + " (default"},
        {{}, "--baud", BenchOptions::kHighestBaud,
         [](const BenchOptions& o) { return static_cast<long long>(o.baud.value_or(0)); },
         "--baud must be from 1 to " + std::to_string(BenchOptions::kHighestBaud) + ", not " +
             std::to_string(BenchOptions::kHighestBaud + 1),
         "line speed, 1 to " + std::to_string(BenchOptions::kHighestBaud) + " (default"},
        {{"--dump"}, "--data-id", BenchOptions::kHighestDataId,
         [](const BenchOptions& o) { return static_cast<long long>(o.data_id.value_or(0)); },
         "--data-id must be from 0 to " + std::to_string(BenchOptions::kHighestDataId),
         "the data id, 0 to " + std::to_string(BenchOptions::kHighestDataId) + ", that"},
    };
    std::string help = BenchOptions::Help("plugin.so", "settings.json");
    // The option descriptions wrap at any blank: compare them on one line.
    std::replace(help.begin(), help.end(), '\n', ' ');
    help.erase(std::unique(help.begin(), help.end(),
                           [](char a, char b) { return a == ' ' && b == ' '; }),
               help.end());
    for (const Bound& bound : bounds) {
        std::vector<std::string> words = bound.with;
        words.insert(words.end(), {bound.option, std::to_string(bound.highest)});
        EXPECT_EQ(bound.taken(Parse(words)), bound.highest) << bound.option;
        words.back() = std::to_string(bound.highest + 1);
        EXPECT_NE(Refusal(words).find(bound.refusal), std::string::npos)
            << bound.option << ": " << Refusal(words);
        EXPECT_NE(help.find(bound.help), std::string::npos) << bound.option << ": " << help;
    }
}

class BenchHostInputTest : public BenchHostTest {
protected:
    BenchHostInputTest() : BenchHostTest({"--interval", "0"}) {}
};

// Past the command line too, a bound is a value the bench host runs with.
TEST_F(BenchHostInputTest, EachUpperBoundRunsAtItsValue) {
    const std::vector<std::vector<std::string>> runs = {
        {"--rounds", "1", "--late-limit", std::to_string(BenchOptions::kLongestWaitMs)},
        // The default timeout there, 480 characters, is 1.2 ms: short for a loaded machine.
        {"--rounds", "1", "--timeout", "500", "--baud",
         std::to_string(BenchOptions::kHighestBaud)},
        {"--rounds", "1", "--sim-late", std::to_string(BenchOptions::kLongestWaitMs)},
        {"--dump", "--data-id", std::to_string(BenchOptions::kHighestDataId)},
    };
    for (const std::vector<std::string>& args : runs) {
        const std::string& option = args.at(args.size() - 2);
        EXPECT_EQ(RunHost(args), 0) << option << " " << args.back() << ": " << err;
        EXPECT_EQ(err, "") << option;
    }
}

// Each refusal: its exit status, one line on standard error, nothing
// polled, no history made.
TEST_F(BenchHostInputTest, BadInputIsRefusedInOneLineWithItsStatusBeforeAnythingRuns) {
    const auto write = [this](const std::string& name, const std::string& text) {
        std::ofstream(scratch.File(name)) << text;
        return name;
    };
    // Settings that are not one JSON object, or not the device's.
    std::filesystem::create_directory(scratch.File("settings.json"));
    write("two.json", "{ \"dataId\": 5 }\n{ \"dataId\": 6 }\n");
    write("brace.json", "{ \"dataId\": 5 }\n}\n");
    write("commented.json", "{ \"dataId\": 5 }\n// the bench meter\n");
    write("deep.json", std::string(100000, '['));
    write("deep-inside.json",
          "{ \"dataId\": 5, \"appSetting\": " + std::string(100000, '[') + " }");
    write("null-station.json", "{ \"dataId\": 5, \"stationAddress\": null }");
    write("broken.json", "{\n  \"dataId\": 5,\n  \"appSetting\" {}\n}\n");
    write("no-id.json", "{ \"appSetting\": { \"b_mode\": \"3\" } }\n");
    write("not-a-library.so", "text\n");
    write("far.json", "{ \"dataId\": 5, \"stationAddress\": 248 }\n");
    write("text.json", "{ \"dataId\": 5, \"stationAddress\": \"2\" }\n");
    // A line of meters: station s with data id 1200 + s unless given.
    const auto meter = [&write](int station, int data_id) {
        return write("meter-" + std::to_string(station) + "-" + std::to_string(data_id) + ".json",
                     "{ \"dataId\": " + std::to_string(data_id) +
                         ", \"stationAddress\": " + std::to_string(station) + " }\n");
    };
    const std::string one = meter(1, 1201);
    const std::string two = meter(2, 1202);
    const std::string also_one = meter(1, 1299);
    const std::string same_id = meter(3, 1201);

    const std::vector<Refusal> refusals = {
        // The command line.
        {{"--rounds", "1", "extra"}, 2, "bench_host: unexpected word 'extra' on the command line"},
        {{"--port", "", "--rounds", "1"}, 2, "bench_host: --port needs a path"},
        {{"--rounds", "x"}, 2, "bench_host: the argument ('x') for option '--rounds' is invalid"},
        {{"--sim-fault", "loud@1"}, 2, "bench_host: --sim-fault: unknown fault 'loud'"},
        {{"--parity", "mark"}, 2, "--parity must be none, even or odd, not 'mark'"},
        {{"--stop-bits", "3"}, 2, "--stop-bits must be 1 or 2, not 3"},
        {{"--baud", "0"}, 2, "--baud must be from 1 to 4000000, not 0"},
        {{"--port", "/dev/null", "--sim-echo"}, 2, "--sim-echo apply to the simulated line"},
        // Faults without a station are the first meter's, whatever its address.
        {{"--sim-fault", "silent@4", "--sim-fault", "short@1:4"}, 2,
         "--sim-fault: two faults for request 1:4: short and silent (one fault per request)"},
        {{"--settings", two, "--settings", one, "--sim-fault", "short@2:4", "--sim-fault",
          "late@3,4"},
         2, "--sim-fault: two faults for request 2:4: short and late"},
        // The settings files.
        {{"--settings", "settings.json"}, 3,
         "bench_host: settings file settings.json: it is a directory, not a file"},
        {{"--settings", "two.json"}, 3,
         "settings file two.json: Line 2, Column 1: Extra non-whitespace after JSON value."},
        {{"--settings", "brace.json"}, 3, "brace.json: Line 2, Column 1: Extra"},
        {{"--settings", "/dev/zero"}, 3, "settings file /dev/zero: not a regular file"},
        {{"--settings", "deep.json"}, 3,
         "bench_host: settings file deep.json: nested deeper than 1000 levels"},
        {{"--settings", "deep-inside.json"}, 3,
         "bench_host: settings file deep-inside.json: nested deeper than 1000 levels"},
        {{"--settings", "null-station.json"}, 3,
         "bench_host: settings file null-station.json: \"stationAddress\" must be a whole "
         "number from 1 to 247, not null"},
        {{"--settings", "missing.json"}, 3, "settings file missing.json: No such file"},
        {{"--settings", "broken.json"}, 3,
         "settings file broken.json: Line 3, Column 16: Missing ':' after object member name"},
        {{"--settings", "no-id.json"}, 3, "\"dataId\" is missing"},
        {{"--settings", "far.json"}, 3,
         "settings file far.json: \"stationAddress\" must be a whole number from 1 to 247, not 248"},
        {{"--settings", "text.json"}, 3, "must be a whole number from 1 to 247, not \"2\""},
        // The line of meters.
        {{"--settings", one, "--settings", also_one}, 8,
         "settings files " + one + " and " + also_one + " both name station 1"},
        {{"--settings", one, "--settings", two, "--settings", same_id}, 8,
         "settings files " + one + " and " + same_id + " both name data id 1201"},
        // The plug-in.
        {{"--plugin", "not-a-library.so"}, 4, "cannot load plug-in: not-a-library.so: "},
        {{"--plugin", "absent.so"}, 4, "cannot load plug-in: absent.so: No such file or directory"},
        // The port.
        {{"--port", "/dev/no-such-serial-port"}, 5,
         "cannot open serial port /dev/no-such-serial-port: No such file or directory"},
        {{"--baud", "12345"}, 5, " refuses 12345 baud: Invalid argument"},
    };
    for (const Refusal& refusal : refusals)
        ExpectRefused(refusal);
    EXPECT_EQ(DeviceSettings::Load(scratch.File("commented.json")).DataId(), 5u)
        << "a comment after the object is not extra text";
}

// What is in a folder, file by file (links as their targets' names), but
// the output files of the tool run there.
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (ToolProcess::IsOutputFile(name))
            continue;
        contents[name] = entry.is_symlink()
                             ? "-> " + std::filesystem::read_symlink(entry.path()).string()
                             : FileBytes(entry.path().string());
    }
    return contents;
}

struct KeptFileCase {
    std::vector<std::string> args;
    std::string message;
};

// --stats-json and --plot refuse to write over the history, a settings
// file, the plug-in or the port, under any name, and over a file that is no
// earlier output of theirs; before anything runs, and with every file left
// as it was.
TEST_F(BenchHostInputTest, AnOutputNeverReplacesAFileTheUserOwns) {
    {
        HistoryStore history(scratch.File("h.sqlite"), HistoryStore::Access::kReadWrite);
        const std::vector<unsigned char> record(59, 7);
        history.Append(1201, "2026-12-08 20:54:12.579", record.data(), record.size());
    }
    std::filesystem::create_symlink("h.sqlite", scratch.File("link.json"));
    std::filesystem::create_hard_link(scratch.File("h.sqlite"), scratch.File("hard.json"));
    std::filesystem::create_hard_link(scratch.File("h.sqlite"), scratch.File("h.png"));
    std::filesystem::copy_file(QVT7702_EXAMPLES "/qvt7702-settings.json", scratch.File("s.json"));
    std::filesystem::create_symlink("s.json", scratch.File("s-link.svg"));
    std::filesystem::copy_file(QVT7702_PLUGIN, scratch.File("p.so"));
    std::filesystem::create_symlink("/dev/null", scratch.File("line"));
    WriteFileBytes(scratch.File("notes.txt"), "the meters' wiring\n");
    WriteFileBytes(scratch.File("notes.png"), "not a picture\n");
    const std::string kept = "; it is left as it is: name another file";

    const std::vector<KeptFileCase> cases = {
        {{"--stats-json", "h.sqlite"}, "--stats-json h.sqlite is the history file" + kept},
        {{"--stats-json", "link.json"},
         "--stats-json link.json is the history file h.sqlite (the same file under another "
         "name)" + kept},
        {{"--stats-json", "hard.json"},
         "--stats-json hard.json is the history file h.sqlite (the same file under another "
         "name)" + kept},
        {{"--stats-json", "h.sqlite-wal"},
         "--stats-json h.sqlite-wal is the history file's write-ahead journal" + kept},
        {{"--settings", "s.json", "--stats-json", "s.json"},
         "--stats-json s.json is the settings file" + kept},
        {{"--plugin", "p.so", "--stats-json", "p.so"}, "--stats-json p.so is the plug-in" + kept},
        {{"--port", "line", "--stats-json", "/dev/null"},
         "--stats-json /dev/null is the serial port line (the same file under another name)" +
             kept},
        {{"--stats-json", "/dev/null"}, "--stats-json /dev/null is not a regular file" + kept},
        {{"--stats-json", "notes.txt"},
         "--stats-json notes.txt holds something other than a run's statistics" + kept +
             ", or remove it first"},
        {{"--plot", "h.png"},
         "--plot h.png is the history file h.sqlite (the same file under another name)" + kept},
        {{"--settings", "s.json", "--plot", "s-link.svg"},
         "--plot s-link.svg is the settings file s.json (the same file under another name)" +
             kept},
        {{"--plot", "notes.png"},
         "--plot notes.png holds something other than a PNG or SVG picture" + kept +
             ", or remove it first"},
    };
    const std::map<std::string, std::string> before = Contents(scratch.Path());
    for (const KeptFileCase& refused : cases) {
        std::vector<std::string> args = refused.args;
        args.insert(args.end(), {"--history", "h.sqlite", "--rounds", "1"});
        if (std::find(args.begin(), args.end(), "--plot") != args.end())
            args.resize(args.size() - 2);  // --plot draws and ends: no rounds
        const ToolRun run = ToolProcess::RunToEnd(BENCH_HOST, args, scratch.Path());
        EXPECT_EQ(run.status, 2) << refused.message << ": " << run.err;
        EXPECT_EQ(run.err, "bench_host: " + refused.message + "\n");
        EXPECT_EQ(run.out, "") << refused.message;
        EXPECT_TRUE(Contents(scratch.Path()) == before) << refused.message << ": a file changed";
    }

    // A history still to be made is the same file by its name.
    const ToolRun fresh = ToolProcess::RunToEnd(
        BENCH_HOST, {"--history", "new.sqlite", "--stats-json", "./new.sqlite"}, scratch.Path());
    EXPECT_EQ(fresh.status, 2);
    EXPECT_EQ(fresh.err, "bench_host: --stats-json ./new.sqlite is the history file new.sqlite "
                         "(the same file under another name)" + kept + "\n");
    EXPECT_TRUE(Contents(scratch.Path()) == before) << "no history made";
}

// An earlier statistics file, or an empty one, is what --stats-json may
// replace; the new one is written whole, with nothing left beside it.
TEST_F(BenchHostInputTest, AStatisticsFileReplacesAnEarlierOneOrAnEmptyFile) {
    WriteStatisticsJsonFile(scratch.File("earlier.json"), StatisticsReport{});
    WriteFileBytes(scratch.File("empty.json"), "");
    for (const char* name : {"earlier.json", "empty.json"}) {
        ASSERT_EQ(RunHost({"--rounds", "1", "--stats-json", name}), 0) << err;
        EXPECT_TRUE(IsStatisticsJsonFile(scratch.File(name))) << name;
        EXPECT_NE(FileBytes(scratch.File(name)).find("\"requests_sent\" : 1,"), std::string::npos)
            << FileBytes(scratch.File(name));
        std::filesystem::remove(History());
    }
    for (const auto& entry : std::filesystem::directory_iterator(scratch.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << entry.path();
}

struct KindCase {
    const char* name;
    std::string bytes;
    bool recognised;
};

TEST(OutputKindTest, AnEarlierStatisticsFileIsKnownByItsOwnTopLevelKeys) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("stats.json");
    WriteStatisticsJsonFile(path, StatisticsReport{});
    const std::string written = FileBytes(path);
    const std::size_t last_brace = written.rfind('}');
    // The file without its "run_seconds" : 1.5, member.
    std::string without_run_time = written;
    const std::size_t run_time = without_run_time.find("\"run_seconds\" : ");
    if (run_time != std::string::npos)
        without_run_time.erase(run_time, without_run_time.find(',', run_time) + 1 - run_time);
    const std::vector<KindCase> cases = {
        {"as written", written, true},
        {"with a key of its own", written.substr(0, last_brace) + ", \"notes\": \"mine\" }", false},
        {"without its run time", without_run_time, false},
        {"cut short", written.substr(0, written.size() / 2), false},
        {"an empty object", "{}", false},
        {"an array", "[1, 2]", false},
        {"text", "run_seconds line meters\n", false},
    };
    for (const KindCase& file : cases) {
        WriteFileBytes(path, file.bytes);
        EXPECT_EQ(IsStatisticsJsonFile(path), file.recognised) << file.name;
    }
}

TEST(OutputKindTest, AnEarlierPictureIsKnownByItsSignature) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("trend");
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const std::vector<KindCase> cases = {
        {"a PNG", png, true},
        {"a PNG cut in its signature", png.substr(0, 5), false},
        {"gnuplot's SVG",
         "<?xml version=\"1.0\" encoding=\"utf-8\"  standalone=\"no\"?>\n<svg \n width=\"1000\">",
         true},
        {"an SVG after a byte order mark, a comment and a document type",
         "\xEF\xBB\xBF<!-- drawn by hand -->\n<!DOCTYPE svg>\n<svg xmlns=\"x\"/>", true},
        {"a bare SVG", "<svg>", true},
        {"another element", "<svgz>", false},
        {"an SVG inside a page", "<html><svg></svg></html>", false},
        {"an unclosed comment", "<!-- <svg>", false},
        {"text", "Ua Ub Uc\n", false},
    };
    for (const KindCase& file : cases) {
        WriteFileBytes(path, file.bytes);
        EXPECT_EQ(HistoryPlot::IsPictureFile(path), file.recognised) << file.name;
    }
}

}  // namespace
