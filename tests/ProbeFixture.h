#pragma once

#include "FrameworkProbe.h"

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <string>
#include <vector>

// Every test starts from a fresh stand-in framework.
class ProbeFixture : public ::testing::Test {
protected:
    void SetUp() override { FrameworkProbe::Instance().Clear(); }
    void TearDown() override { FrameworkProbe::Instance().Clear(); }

    static FrameworkProbe& Probe() { return FrameworkProbe::Instance(); }
    static std::vector<std::string> Names() { return Probe().Names(); }

    static boost::posix_time::ptime Now() {
        return boost::posix_time::second_clock::local_time();
    }
};

// Splits captured standard output into lines (without their newlines).
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
