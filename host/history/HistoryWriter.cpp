#include "HistoryWriter.h"

#include "StopRequested.h"

#include <utility>

HistoryWriter::HistoryWriter(const std::string& path, HistoryStore::StopCheck stop_requested,
                             Failed failed)
    : stop_requested_(std::move(stop_requested)), failed_(std::move(failed)) {
    store_ = std::make_unique<HistoryStore>(path, HistoryStore::Access::kReadWrite, [this] {
        return give_up_locks_.load() || (stop_requested_ && stop_requested_());
    });
    thread_ = std::thread(&HistoryWriter::Run, this);
}

HistoryWriter::~HistoryWriter() {
    Finish(Locks::kGiveUp);
}

void HistoryWriter::Hand(std::uint32_t data_id, std::string stored_at,
                         const unsigned char* record, std::size_t len) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_ || finishing_) {
            ++not_stored_;
            return;
        }
        queue_.push_back({data_id, std::move(stored_at), {record, record + len}});
    }
    wake_.notify_one();
}

void HistoryWriter::Finish(Locks locks) {
    if (locks == Locks::kGiveUp)
        give_up_locks_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    store_.reset();
}

// The queue is only held to take it whole: Hand waits for nothing longer.
void HistoryWriter::Run() {
    std::vector<HistoryStore::NewRecord> group;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (queue_.empty())
            break;
        group.clear();
        group.swap(queue_);
        if (ended_) {
            not_stored_ += group.size();
            continue;
        }
        lock.unlock();
        std::exception_ptr failure;
        bool stored = false;
        try {
            store_->AppendAll(group);
            stored = true;
        } catch (const StopRequested&) {
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (stored) {
            stored_ += group.size();
            continue;
        }
        not_stored_ += group.size();
        ended_ = true;
        if (failure) {
            failure_ = failure;
            lock.unlock();
            if (failed_)
                failed_();
            lock.lock();
        }
    }
    ended_ = true;
}

std::uint64_t HistoryWriter::Stored() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_;
}

std::uint64_t HistoryWriter::NotStored() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return not_stored_;
}

std::exception_ptr HistoryWriter::Failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}
