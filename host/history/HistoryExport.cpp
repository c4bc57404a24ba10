#include "HistoryExport.h"

#include "BenchError.h"
#include "HistoryReport.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Large enough that a write call carries a few hundred rows.
constexpr std::size_t kBlockBytes = 64 * 1024;

class BlockOutput {
public:
    explicit BlockOutput(int fd) : fd_(fd) { text_.reserve(kBlockBytes + 4096); }

    std::string& Text() { return text_; }
    bool Gone() const { return gone_; }

    // Writes out what is held once a block is full; false once the reader
    // has gone.
    bool Flush(bool whole = false) {
        if (gone_ || (!whole && text_.size() < kBlockBytes))
            return !gone_;
        std::size_t written = 0;
        while (written < text_.size()) {
            const ssize_t result = ::write(fd_, text_.data() + written, text_.size() - written);
            if (result >= 0) {
                written += static_cast<std::size_t>(result);
            } else if (errno == EPIPE) {
                gone_ = true;
                break;
            } else if (errno != EINTR) {
                throw BenchError(ExitCode::kFailure,
                                 std::string("cannot write the history out: ") + std::strerror(errno));
            }
        }
        text_.clear();
        return !gone_;
    }

private:
    int fd_;
    std::string text_;
    bool gone_ = false;
};

}  // namespace

HistoryExport::Outcome HistoryExport::Write(HistoryStore& history, Format format,
                                            std::optional<std::uint32_t> data_id, int fd,
                                            const HistoryStore::StopCheck& stop_requested) {
    BlockOutput output(fd);
    Outcome outcome;
    if (format == Format::kCsv)
        output.Text() = HistoryReport::CsvHeader();
    history.ForEachRow(data_id, [&](const HistoryRow& row) {
        if (stop_requested && outcome.rows % kRowsBetweenStopChecks == 0 && stop_requested()) {
            outcome.stopped = true;
            return false;
        }
        ++outcome.rows;
        if (format == Format::kCsv)
            HistoryReport::AppendCsv(output.Text(), row);
        else
            HistoryReport::AppendText(output.Text(), row);
        return output.Flush();
    });
    output.Flush(true);
    outcome.reader_gone = output.Gone();
    return outcome;
}
