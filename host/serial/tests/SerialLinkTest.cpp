// What the bench host's line does beyond its framing: the names it gives a
// device (its stable by-id name, a USB adapter's latency timer), the reason
// a refused port is refused, RS-485 mode refused by a port without one, the
// gap between requests, and opening the same device again.
#include "BenchError.h"
#include "PolledAnswer.h"
#include "PortIdentity.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "serial-link-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(PortIdentityTest, AStableNameAndTheAdaptersLatencyTimer) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    const std::string device = meter.PortPath();
    const std::string kernel = fs::path(device).filename().string();
    struct Row {
        const char* what;
        const char* timer_file;  // under the fake sysfs; nullptr: none
        const char* timer;
        std::optional<int> ms;
        bool hint;
    };
    const Row rows[] = {
        {"an FTDI adapter at its default", "class/tty/%/device/latency_timer", "16\n", 16, true},
        {"an adapter already set low", "class/tty/%/device/latency_timer", "1\n", 1, false},
        {"a usb-serial port", "bus/usb-serial/devices/%/latency_timer", "4\n", 4, true},
        {"a port without a timer", nullptr, nullptr, std::nullopt, false},
        {"an unreadable timer", "class/tty/%/device/latency_timer", "fast\n", std::nullopt, false},
    };
    for (const Row& row : rows) {
        ScratchFolder scratch;
        const fs::path by_id = scratch / "by-id";
        fs::create_directories(by_id);
        fs::create_symlink(device, by_id / "usb-Maker_Adapter_A1B2-if00-port0");
        fs::create_symlink("/dev/null", by_id / "usb-Other_Thing-if00");
        std::string timer_path;
        if (row.timer_file != nullptr) {
            timer_path = (scratch / "sys" / row.timer_file).string();
            timer_path.replace(timer_path.find('%'), 1, kernel);
            WriteFile(timer_path, row.timer);
        }
        const PortIdentity identity =
            PortIdentity::Of(device, by_id.string(), (scratch / "sys").string());
        const std::string stable = (by_id / "usb-Maker_Adapter_A1B2-if00-port0").string();
        EXPECT_EQ(identity.StableName(), stable) << row.what;
        EXPECT_EQ(identity.ReopenPath(), stable) << row.what;
        EXPECT_EQ(identity.Label(), stable + " (" + device + ")") << row.what;
        EXPECT_EQ(identity.KernelName(), kernel) << row.what;
        EXPECT_EQ(identity.LatencyTimerMs(), row.ms) << row.what;
        EXPECT_EQ(identity.LatencyHint().empty(), !row.hint) << row.what;
        if (row.hint) {
            EXPECT_EQ(identity.LatencyHint(),
                      "hint: the adapter holds received bytes up to " + std::to_string(*row.ms) +
                          " ms; for quicker answers: echo 1 | sudo tee " + timer_path)
                << row.what;
        }
        // Opened by its stable name, it is the same device.
        const PortIdentity by_name = PortIdentity::Of(stable, by_id.string(), (scratch / "sys").string());
        EXPECT_EQ(by_name.StableName(), stable) << row.what;
        EXPECT_EQ(by_name.LatencyTimerMs(), row.ms) << row.what;
    }
    EXPECT_EQ(PortIdentity::Of(device, "/nonexistent", "/nonexistent").Label(), device)
        << "no stable name: the path as given";
}

// Runs `attempt` in a child process as user nobody, in the groups given,
// and returns what it wrote; nothing when the child cannot become nobody.
std::optional<std::string> AsNobody(const std::vector<gid_t>& groups,
                                    std::string (*attempt)(const std::string&),
                                    const std::string& path) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        constexpr uid_t kNobody = 65534;
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(kNobody) != 0 ||
            setuid(kNobody) != 0)
            _exit(100);
        const std::string text = attempt(path);
        if (write(pipe_ends[1], text.data(), text.size()) < 0)
            _exit(101);
        _exit(0);
    }
    close(pipe_ends[1]);
    std::string text;
    char chunk[512];
    for (ssize_t len; (len = read(pipe_ends[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(len));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

std::string OpenMessage(const std::string& path) {
    boost::asio::io_context io;
    SerialLine line(io);
    try {
        line.Open(path, LineSettings{});
        return "opened";
    } catch (const BenchError& failure) {
        return failure.what();
    }
}

// Permission is refused to another user only: root opens whatever the mode.
TEST(SerialLinkTest, APermissionRefusalNamesTheGroupAndWhetherTheUserIsInIt) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the attempt as another user in chosen groups";
    SimulatedMeter meter{SimulatedMeterOptions{}};
    const std::string path = meter.PortPath();
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    const struct group* owner = getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group = owner->gr_name;
    struct Row {
        const char* what;
        mode_t mode;
        bool in_group;
        std::string says;
    };
    const std::string denied = "cannot open serial port " + path + ": Permission denied: ";
    const Row rows[] = {
        {"not in the group", 0660, false,
         denied + "it belongs to group " + group + " (mode crw-rw----) and user nobody is not "
                  "in it: sudo usermod -aG " + group + " nobody, then log in again"},
        {"in a group without access", 0600, true,
         denied + "it belongs to group " + group + " (mode crw-------) and user nobody is in "
                  "it, but the group may not read and write it"},
        {"in the group", 0660, true, "opened"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
        const std::vector<gid_t> groups =
            row.in_group ? std::vector<gid_t>{info.st_gid} : std::vector<gid_t>{};
        const std::optional<std::string> said = AsNobody(groups, OpenMessage, path);
        if (!said)
            GTEST_SKIP() << "cannot become user nobody here";
        EXPECT_EQ(*said, row.says) << row.what;
    }
}

TEST(SerialLinkTest, APortWithoutRs485ModeRefusesItWithASentence) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    boost::asio::io_context io;
    SerialLine line(io);
    LinkOptions link;
    link.rs485 = LinkOptions::Rs485{1, 2};
    try {
        line.Open(meter.PortPath(), LineSettings{}, link);
        FAIL() << "a pseudo-terminal took RS-485 mode";
    } catch (const BenchError& failure) {
        EXPECT_EQ(failure.Code(), ExitCode::kPort);
        EXPECT_EQ(std::string(failure.what()),
                  "serial port " + meter.PortPath() +
                      " has no RS-485 mode: its driver refuses it (Inappropriate ioctl for "
                      "device); leave out --rs485, or use an adapter that switches the line "
                      "itself");
    }
    EXPECT_NO_THROW(line.Open(meter.PortPath(), LineSettings{})) << "the refusal left it free";
    EXPECT_FALSE(line.LowLatency()) << "a pseudo-terminal has no low-latency flag";
}

TEST(SerialLinkTest, RequestsLeaveNoSoonerThanTheGapAfterTheOneBefore) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    boost::asio::io_context io;
    SerialLine line(io);
    LinkOptions link;
    link.request_gap = std::chrono::milliseconds(80);
    line.Open(meter.PortPath(), LineSettings{}, link);
    const unsigned char noise[] = {0xFF};
    line.Write(noise, 1);
    const auto first = std::chrono::steady_clock::now();
    EXPECT_GE(line.EarliestWrite(), first + std::chrono::milliseconds(79));
    line.Write(noise, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - first, std::chrono::milliseconds(79));
}

// The same device opened again, and told apart from one that has gone.
TEST(SerialLinkTest, TheSameDeviceOpensAgainAndAGoneOneIsNotPresent) {
    auto meter = std::make_unique<SimulatedMeter>(SimulatedMeterOptions{});
    meter->Start();
    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(meter->PortPath(), LineSettings{});
    line.Reopen();
    EXPECT_TRUE(line.DevicePresent());
    EXPECT_EQ(AnswerBytes(io, line, 1, std::chrono::seconds(2)), 58u)
        << "the line opened again carries an answer";

    meter.reset();  // the pseudo-terminal goes away, as an adapter pulled out
    EXPECT_FALSE(line.DevicePresent());
    EXPECT_THROW(line.Reopen(), BenchError);
    EXPECT_FALSE(line.DevicePresent());
}

}  // namespace
