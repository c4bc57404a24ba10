#pragma once

#include "BenchOptions.h"

#include <string>
#include <vector>

// The options a command line of `words` (without the program's name) gives,
// with a stand-in plug-in and settings file as the defaults.
inline BenchOptions ParseWords(std::vector<std::string> words) {
    words.insert(words.begin(), "bench_host");
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    return BenchOptions::Parse(static_cast<int>(argv.size()), argv.data(), "plugin.so",
                               "settings.json");
}
