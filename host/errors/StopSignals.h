#pragma once

#include <csignal>

// The bench host's stop signals: SIGINT, SIGTERM and SIGHUP. From the first
// line of main they are held (blocked) in every thread for the rest of the
// process, so that none of them ever ends it by its default action, a second
// one while a run finishes included. A stop is a pending signal that the
// host takes where it can end the run with its summary: the polling loop
// waits on Descriptor(); a wait that cannot be part of that loop (settings
// read from a pipe, SQLite waiting for another program's lock) checks
// Pending() or waits with WaitFor().
//
// SIGPIPE is ignored as well: a closed standard output shows as a failed
// write, and the run stops as for a stop signal.
class StopSignals {
public:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    // kSignals as a signal set.
    static sigset_t Set();

    // The first thing main does, before any thread is started.
    static void Hold();
    // For a tool that only reads the history and ends at once on a stop
    // (--plot): the default actions again, and a stop held so far ends it.
    static void Release();

    // A stop signal came and was not taken yet.
    static bool Pending();
    // Readable while a stop signal is pending (a signalfd), open for the
    // life of the process; whoever waits on it takes the signal with Take().
    static int Descriptor();
    // Takes a pending stop signal; its number, or 0 when none was pending.
    static int Take();

    // Waits until `fd` has one of `events` (poll(2)) or a stop signal is
    // pending; false for the stop. Throws std::system_error when poll fails.
    static bool WaitFor(int fd, short events);
};
