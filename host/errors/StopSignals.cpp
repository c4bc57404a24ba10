#include "StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : StopSignals::kSignals)
        sigaddset(&set, number);
    return set;
}

}  // namespace

sigset_t StopSignals::Set() {
    return StopSet();
}

void StopSignals::Hold() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void StopSignals::Release() {
    std::signal(SIGPIPE, SIG_DFL);
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool StopSignals::Pending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0)
        return false;
    for (const int number : kSignals)
        if (sigismember(&pending, number) == 1)
            return true;
    return false;
}

int StopSignals::Descriptor() {
    static const int descriptor = [] {
        const sigset_t set = StopSet();
        const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd < 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot watch for stop signals");
        return fd;
    }();
    return descriptor;
}

int StopSignals::Take() {
    const sigset_t set = StopSet();
    const timespec now{0, 0};
    const int number = sigtimedwait(&set, nullptr, &now);
    return number > 0 ? number : 0;
}

bool StopSignals::WaitFor(int fd, short events) {
    pollfd watched[] = {{fd, events, 0}, {Descriptor(), POLLIN, 0}};
    for (;;) {
        if (Pending())
            return false;
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (watched[1].revents != 0)
            return false;
        if (watched[0].revents != 0)
            return true;
    }
}
