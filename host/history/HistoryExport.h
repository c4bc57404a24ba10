#pragma once

#include "HistoryStore.h"

#include <cstdint>
#include <optional>

// --dump and --csv: the stored history decoded (HistoryReport) and written
// to a file descriptor as it is read, a block at a time, so that memory does
// not grow with the history. A reader that goes away (the end of a pipe
// closed, as `| head` does) ends the export early and quietly; the caller
// must ignore SIGPIPE for that. So does a stop (`stop_requested`, asked
// every few hundred rows), with the history closed as it should be. Another
// failure to write throws BenchError (failure) naming its cause.
class HistoryExport {
public:
    enum class Format { kText, kCsv };

    struct Outcome {
        std::int64_t rows = 0;       // rows read from the history
        bool reader_gone = false;    // the output was closed before the end
        bool stopped = false;        // a stop came before the end
    };

    static constexpr std::int64_t kRowsBetweenStopChecks = 256;

    static Outcome Write(HistoryStore& history, Format format,
                         std::optional<std::uint32_t> data_id, int fd,
                         const HistoryStore::StopCheck& stop_requested = {});
};
