// The bench host's end of a serial line keeps every other program out while
// it is open, and lets them in again once closed.
#include "SerialLine.h"
#include "SimulatedMeter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace
