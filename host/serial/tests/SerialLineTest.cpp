// The bench host's end of a serial line keeps every other program out while
// it is open, and lets them in again once closed.
#include "BenchError.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// Runs `attempt` in a child process as an ordinary user (root passes the
// exclusive mode) and returns its exit status.
int AsOrdinaryUser(int (*attempt)(const char*), const char* argument) {
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                               setuid(kNobody) != 0))
            _exit(100);
        _exit(attempt(argument));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// 0 when the device opens, else the errno of the refusal.
int OpenError(const char* path) {
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

// The terminal's exclusive flag, through a descriptor of our own; -1 when
// the device cannot be opened.
int ExclusiveFlag(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int exclusive = -1;
    ioctl(fd, TIOCGEXCL, &exclusive);
    close(fd);
    return exclusive;
}

TEST(SerialLineTest, AnOpenLineKeepsEveryOtherProgramOut) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    const std::string path = meter.PortPath();
    chmod(path.c_str(), 0666);  // so that only the exclusive mode can refuse
    ASSERT_EQ(AsOrdinaryUser(OpenError, path.c_str()), 0) << "a free line opens";

    boost::asio::io_context io;
    SerialLine line(io);
    line.Open(path, LineSettings{});
    EXPECT_EQ(AsOrdinaryUser(OpenError, path.c_str()), EBUSY);
    if (geteuid() == 0) {
        EXPECT_EQ(ExclusiveFlag(path), 1);
    }

    line.Close();
    EXPECT_EQ(AsOrdinaryUser(OpenError, path.c_str()), 0) << "the line is free again";
    if (geteuid() == 0) {
        EXPECT_EQ(ExclusiveFlag(path), 0);
    }
}

// The line's framing reaches the terminal: read back through the master
// side of a pseudo-terminal, which reports its line's settings. A
// pseudo-terminal keeps everything but the parity-enable bit, which Linux
// clears on every change (it has no parity to generate), so the parity is
// seen by its odd-parity bit: set for odd, clear for even and none.
TEST(SerialLineTest, ParityStopBitsAndSpeedReachThePortSettings) {
    struct Framing {
        Parity parity;
        int stop_bits;
        int baud;
        tcflag_t parity_flags;
        speed_t speed;
    };
    const Framing cases[] = {
        {Parity::kOdd, 1, 9600, PARODD, B9600},
        {Parity::kEven, 1, 19200, 0, B19200},
        {Parity::kOdd, 2, 4800, PARODD, B4800},
        {Parity::kNone, 2, 115200, 0, B115200},
    };
    for (const Framing& framing : cases) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        boost::asio::io_context io;
        SerialLine line(io);
        LineSettings settings;
        settings.parity = framing.parity;
        settings.stop_bits = framing.stop_bits;
        settings.baud = framing.baud;
        line.Open(ptsname(master), settings);

        termios seen{};
        ASSERT_EQ(tcgetattr(master, &seen), 0);
        const std::string name = settings.Framing() + " " + std::to_string(framing.baud);
        EXPECT_EQ(seen.c_cflag & PARODD, framing.parity_flags) << name;
        EXPECT_EQ((seen.c_cflag & CSTOPB) != 0, framing.stop_bits == 2) << name;
        EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << name;
        EXPECT_EQ(cfgetospeed(&seen), framing.speed) << name;
        line.Close();
        close(master);
    }
}

// A speed the terminal has no setting for is refused with the speed named.
TEST(SerialLineTest, ASpeedThePortRefusesIsNamed) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    boost::asio::io_context io;
    SerialLine line(io);
    LineSettings settings;
    settings.baud = 12345;
    try {
        line.Open(meter.PortPath(), settings);
        ADD_FAILURE() << "12345 baud was taken";
    } catch (const BenchError& failure) {
        EXPECT_EQ(failure.Code(), ExitCode::kPort);
        EXPECT_EQ(std::string(failure.what()),
                  "serial port " + meter.PortPath() + " refuses 12345 baud: Invalid argument");
    }
    settings.baud = 9600;
    EXPECT_NO_THROW(line.Open(meter.PortPath(), settings)) << "the refusal left nothing open";
}

}  // namespace
