#pragma once

#include "FrameworkProbe.h"
#include "NullStreamBuffer.h"

#include <iostream>
#include <streambuf>

// While it lives, the stand-in framework costs nothing: the probe's call log
// is off, so every framework call returns at once without allocating, and
// std::cout writes into a NullStreamBuffer, so trace lines are formatted but
// dropped. What a device does in that time is its own work only. The log
// setting and std::cout's buffer are put back on destruction.
class QuietFramework {
public:
    QuietFramework()
        : previous_recording_(FrameworkProbe::Instance().recording),
          previous_buffer_(std::cout.rdbuf(&null_buffer_)) {
        FrameworkProbe::Instance().recording = false;
    }

    ~QuietFramework() {
        std::cout.rdbuf(previous_buffer_);
        FrameworkProbe::Instance().recording = previous_recording_;
    }

    QuietFramework(const QuietFramework&) = delete;
    QuietFramework& operator=(const QuietFramework&) = delete;

private:
    NullStreamBuffer null_buffer_;  // constructed before std::cout is pointed at it
    bool previous_recording_;
    std::streambuf* previous_buffer_;
};
