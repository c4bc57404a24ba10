#pragma once

#include "OutputFile.h"

#include <vector>

struct BenchOptions;

// The commands that only read the history and end: --dump and --csv print
// it, --plot draws one device's trend. Each returns the exit status.
int PrintHistory(const BenchOptions& options);
int DrawPlot(const BenchOptions& options);

// The files a run reads or keeps, which no output of it may replace.
std::vector<OutputFile::Kept> KeptFiles(const BenchOptions& options);
