#pragma once

#include "FrameworkSink.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

class HistoryWriter;
class SerialLine;

// Where the stand-in framework's output goes on the bench: requests onto
// the serial line, history records to the history's writer, published
// records counted. Installed as the framework's sink while it lives; the
// sink it replaced comes back after it.
//
// A failure while the plug-in is calling in (a line error) is kept, not
// thrown through the plug-in's code; ThrowIfFailed() raises it once the
// call has returned. The history's writer keeps its own.
//
// While records are held, what the meter publishes and stores is kept back
// (TakeHeld()) until the host knows the answer was its request's: then
// Commit() counts and stores them; dropped, they are neither.
//
// The round loop learns what the meter did as it calls out (Events), not
// from the sink's counters.
class BenchSink : public FrameworkSink {
public:
    struct Events {
        // The meter handed a request to the line.
        std::function<void(const unsigned char* data, unsigned int len)> sent;
        // The meter published a record: it decoded an answer.
        std::function<void()> published;
    };

    BenchSink(SerialLine& line, HistoryWriter& history, bool verbose, Events events);
    ~BenchSink() override;
    BenchSink(const BenchSink&) = delete;
    BenchSink& operator=(const BenchSink&) = delete;

    void Published(SMDVDevice& device, int data_id, const unsigned char* data,
                   unsigned int len) override;
    void HistoryStored(SMDVDevice& device, const unsigned char* data, unsigned int len) override;
    void Transmit(SMDSPDevice& device, const unsigned char* data, unsigned int len) override;

    void ThrowIfFailed();

    struct HeldRecord {
        std::uint32_t data_id;
        std::string stored_at;
        std::vector<unsigned char> bytes;
    };
    // One exchange's records: what it published and stored.
    struct Held {
        std::uint64_t published = 0;
        std::vector<HeldRecord> history;
    };

    void HoldRecords() { holding_ = true; }
    // Ends holding; returns what was held.
    Held TakeHeld();
    void Commit(Held held);

    // Verbose lines (published records) since the last call.
    std::vector<std::string> TakeNotes();

    std::uint64_t PublishedCount() const { return published_; }
    // Records in the history, and records the meter asked to store that
    // are not: those of the group whose write failed or was given up for a
    // stop, and any after it. Final once the writer has finished.
    std::uint64_t HistoryCount() const;
    std::uint64_t NotStoredCount() const;

private:
    void Store(std::uint32_t data_id, const std::string& stored_at, const unsigned char* data,
               unsigned int len);

    SerialLine& line_;
    HistoryWriter& history_;
    bool verbose_;
    Events events_;
    FrameworkSink* replaced_;
    std::exception_ptr failure_;
    std::vector<std::string> notes_;
    std::uint64_t published_ = 0;
    std::uint64_t not_stored_ = 0;
    bool holding_ = false;
    Held held_;
};
