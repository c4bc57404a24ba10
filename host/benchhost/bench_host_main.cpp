// The bench host: loads the meter plug-in the way the controller does,
// configures one meter per settings file and polls them in turn over one
// serial line (or the built-in simulated line), printing a table round by
// round and keeping the devices' history in SQLite.
#include "BenchError.h"
#include "BenchOptions.h"
#include "Commands.h"
#include "HistoryCommands.h"
#include "StopRequested.h"
#include "StopSignals.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    StopSignals::Hold();
    try {
        const BenchOptions options =
            BenchOptions::Parse(argc, argv, BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
        if (options.help) {
            std::cout << BenchOptions::Help(BENCH_DEFAULT_PLUGIN, BENCH_DEFAULT_SETTINGS);
            return static_cast<int>(ExitCode::kOk);
        }
        if (options.version) {
            std::cout << "bench_host " << BENCH_VERSION << " (commit " << BENCH_COMMIT << ")\n";
            return static_cast<int>(ExitCode::kOk);
        }
        // An export takes a stop between rows; a plot ends at once.
        if (!options.plot_path.empty())
            StopSignals::Release();
        if (options.dump || options.csv)
            return PrintHistory(options);
        if (!options.plot_path.empty())
            return DrawPlot(options);
        if (options.scan)
            return RunScan(options);
        return RunPoll(options);
    } catch (const StopRequested& stop) {  // during set-up, in a wait that had to end
        std::cout << "stopped: " << stop.what() << ", before the first round; nothing polled, "
                                                   "nothing stored"
                  << std::endl;
        return static_cast<int>(ExitCode::kOk);
    } catch (const BenchError& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(failure.Code());
    } catch (const std::exception& failure) {
        std::cerr << "bench_host: " << failure.what() << std::endl;
        return static_cast<int>(ExitCode::kFailure);
    }
}
