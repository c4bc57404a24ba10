#pragma once

#include "FrameworkSink.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

class HistoryStore;
class SerialLine;

// Where the stand-in framework's output goes on the bench: requests onto
// the serial line, history records into the history store, published
// records counted. Installed as the framework's sink while it lives.
//
// A failure while the plug-in is calling in (a line or database error) is
// kept, not thrown through the plug-in's code; ThrowIfFailed() raises it
// once the call has returned.
//
// While records are held, what the meter publishes and stores is kept back
// until CommitHeld() (counted and stored then) or DiscardHeld() (dropped):
// the host holds a round's record while it cannot yet tell whether the
// answer was its own.
class BenchSink : public FrameworkSink {
public:
    BenchSink(SerialLine& line, HistoryStore& history, bool verbose);
    ~BenchSink() override;
    BenchSink(const BenchSink&) = delete;
    BenchSink& operator=(const BenchSink&) = delete;

    void Published(SMDVDevice& device, int data_id, const unsigned char* data,
                   unsigned int len) override;
    void HistoryStored(SMDVDevice& device, const unsigned char* data, unsigned int len) override;
    void Transmit(SMDSPDevice& device, const unsigned char* data, unsigned int len) override;

    void ThrowIfFailed();

    void HoldRecords() { holding_ = true; }
    bool Holding() const { return holding_; }
    // Both end holding.
    void CommitHeld();
    void DiscardHeld();

    // Verbose lines (published records) since the last call.
    std::vector<std::string> TakeNotes();
    // The last request sent, as hex and as bytes.
    const std::string& LastRequest() const { return last_request_; }
    const std::vector<unsigned char>& LastRequestBytes() const { return last_request_bytes_; }

    // Every record the meter published, held ones included: a round's
    // answer was decoded when this grows.
    std::uint64_t DecodedCount() const { return decoded_; }
    std::uint64_t PublishedCount() const { return published_; }
    std::uint64_t HistoryCount() const { return history_rows_; }
    // Records the meter asked to store that are not in the history: the
    // one whose write failed or was given up for a stop, and any after it.
    std::uint64_t NotStoredCount() const { return not_stored_; }

private:
    struct HeldRecord {
        std::uint32_t data_id;
        std::string stored_at;
        std::vector<unsigned char> bytes;
    };

    void Store(std::uint32_t data_id, const std::string& stored_at, const unsigned char* data,
               unsigned int len);

    SerialLine& line_;
    HistoryStore& history_;
    bool verbose_;
    std::exception_ptr failure_;
    std::vector<std::string> notes_;
    std::string last_request_;
    std::vector<unsigned char> last_request_bytes_;
    std::uint64_t decoded_ = 0;
    std::uint64_t published_ = 0;
    std::uint64_t history_rows_ = 0;
    std::uint64_t not_stored_ = 0;
    bool holding_ = false;
    std::uint64_t held_published_ = 0;
    std::vector<HeldRecord> held_history_;
};
