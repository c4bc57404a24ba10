// The bench host's two line commands; each returns the program's status.
#pragma once

#include "BenchOptions.h"

// Polls the configured meters round by round into the history.
int RunPoll(const BenchOptions& options);

// Asks every station at every framing and says who answered, writing
// settings for them when asked to.
int RunScan(const BenchOptions& options);
