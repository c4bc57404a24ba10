#include "HistoryCommands.h"

#include "BenchError.h"
#include "BenchOptions.h"
#include "DataIdChoice.h"
#include "Gnuplot.h"
#include "HistoryExport.h"
#include "HistoryPlot.h"
#include "HistoryStore.h"
#include "StopSignals.h"

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <set>
#include <string>

namespace {

// " from A to B", " from A on" or " up to B", as typed.
std::string WindowText(const BenchOptions& options) {
    if (!options.plot_from.empty() && !options.plot_to.empty())
        return " from " + options.plot_from + " to " + options.plot_to;
    if (!options.plot_from.empty())
        return " from " + options.plot_from + " on";
    if (!options.plot_to.empty())
        return " up to " + options.plot_to;
    return "";
}

}  // namespace

// The files a run reads or keeps, which no output of it may replace.
std::vector<OutputFile::Kept> KeptFiles(const BenchOptions& options) {
    std::vector<OutputFile::Kept> kept = {
        {"the history file", options.history_path},
        // SQLite's own files beside it, while it is open or after a crash.
        {"the history file's write-ahead journal", options.history_path + "-wal"},
        {"the history file's shared memory", options.history_path + "-shm"},
        {"the history file's rollback journal", options.history_path + "-journal"},
        {"the plug-in", options.plugin_path},
    };
    for (const std::string& path : options.settings_paths)
        kept.push_back({"the settings file", path});
    if (!options.port.empty())
        kept.push_back({"the serial port", options.port});
    return kept;
}

// Row by row from the history to standard output; a reader that stops
// reading (`| head`) ends it quietly, and a stop signal says where it ended.
int PrintHistory(const BenchOptions& options) {
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    std::signal(SIGPIPE, SIG_IGN);
    const HistoryExport::Outcome outcome = HistoryExport::Write(
        history, options.csv ? HistoryExport::Format::kCsv : HistoryExport::Format::kText,
        options.data_id, STDOUT_FILENO, &StopSignals::Pending);
    if (outcome.stopped) {
        std::cerr << "bench_host: " << (options.csv ? "--csv" : "--dump") << " stopped after "
                  << outcome.rows << " records\n";
        return static_cast<int>(ExitCode::kOk);
    }
    if (!options.csv && outcome.rows == 0 && !outcome.reader_gone) {
        std::cout << options.history_path << " holds no records";
        if (options.data_id)
            std::cout << " of data id " << *options.data_id;
        std::cout << '\n';
    }
    std::cout.flush();
    return static_cast<int>(ExitCode::kOk);
}

int DrawPlot(const BenchOptions& options) {
    static const OutputFile::Kind picture{"a PNG or SVG picture", &HistoryPlot::IsPictureFile};
    OutputFile::Check("--plot", options.plot_path, KeptFiles(options), picture);
    HistoryStore history(options.history_path, HistoryStore::Access::kReadOnly);
    const std::vector<std::uint32_t> ids = history.DataIds();
    const std::uint32_t data_id = DataIdChoice::Choose(
        std::set<std::uint32_t>(ids.begin(), ids.end()), options.data_id, options.history_path);
    HistoryPlot::Window window;
    if (!options.plot_from.empty())
        window.from = *HistoryPlot::WindowStart(options.plot_from);
    if (!options.plot_to.empty())
        window.until = *HistoryPlot::WindowUntil(options.plot_to);
    const HistoryPlot plot = HistoryPlot::FromHistory(history, data_id, window);
    if (plot.RecordCount() == 0)
        throw BenchError(ExitCode::kHistory, "history file " + options.history_path +
                                                 " holds no readable meter records of data id " +
                                                 std::to_string(data_id) + WindowText(options));
    Gnuplot().Draw(plot.Script(*HistoryPlot::FormatOf(options.plot_path)), options.plot_path);
    std::cout << "plot: " << options.plot_path << ", " << plot.Summary() << std::endl;
    return static_cast<int>(ExitCode::kOk);
}
