#pragma once

#include "HistoryStore.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Stores a history's records on a thread of its own, so that whoever hands
// them over never waits for the disk. Records go in groups: whatever was
// handed over while the last group was written is the next group, one
// transaction, synced at its commit (HistoryStore). A quiet line makes
// groups of one record; a fast line or a slow disk makes them larger, so
// the file keeps up with any line, and a power loss costs at most the group
// being written. Records are stored in the order they were handed over.
//
// A group that cannot be stored (another program keeps the file locked
// past HistoryStore's bound, a full disk) ends the writing: that group and
// every record handed over after it are counted as not stored, and
// `failed` is called, once, on the writer's thread. A stop (`stop_requested`
// while another program holds the file locked) does the same without
// calling it: a stop is no failure.
class HistoryWriter {
public:
    using Failed = std::function<void()>;
    enum class Locks { kWaitOut, kGiveUp };

    // Opens the history for writing as HistoryStore does, on the caller's
    // thread (its refusals are thrown here), and starts the writer's thread.
    HistoryWriter(const std::string& path, HistoryStore::StopCheck stop_requested,
                  Failed failed = {});
    // Finish(kGiveUp) when it was not called.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Never waits for the disk, only for a moment's turn at the queue.
    void Hand(std::uint32_t data_id, std::string stored_at, const unsigned char* record,
              std::size_t len);

    // Stores every record handed over, then ends the thread. kWaitOut waits
    // for another program's lock as any group does; kGiveUp does not wait
    // for it at all: what it holds up is not stored. Records handed over
    // afterwards are counted as not stored.
    void Finish(Locks locks);

    // Records committed, and records handed over that never will be.
    std::uint64_t Stored() const;
    std::uint64_t NotStored() const;
    // What ended the writing (a BenchError), or null: none, or a stop.
    std::exception_ptr Failure() const;

private:
    void Run();

    HistoryStore::StopCheck stop_requested_;
    Failed failed_;
    std::atomic<bool> give_up_locks_{false};
    std::unique_ptr<HistoryStore> store_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<HistoryStore::NewRecord> queue_;
    bool finishing_ = false;
    bool ended_ = false;  // given up, or the thread is gone: nothing more is stored
    std::uint64_t stored_ = 0;
    std::uint64_t not_stored_ = 0;
    std::exception_ptr failure_;
    std::thread thread_;
};
