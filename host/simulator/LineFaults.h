#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

// What the simulated line does to every answer, whichever meter sends it,
// beside the faults of single answers (FaultPlan).
enum class LineFault {
    kStray,   // a byte or two after every answer: the RS-485 driver let go of the line
    kBabble,  // a device on the line sending a byte every few ms, forever
    kBursts,  // a USB adapter's latency timer: bytes held and handed over in bursts
    kDelay,   // a network gateway between host and line: every byte later by the delay
};

class LineFaults {
public:
    // Adds one from text "KIND" or "KIND=N", KIND one of KindList(), N the
    // fault's figure (its default without it). Throws std::invalid_argument
    // with a readable message on anything else, and on a kind given twice.
    void Add(const std::string& text);
    // The same, the figure given; throws as Add does for one out of range.
    void Set(LineFault fault, int figure);

    bool Any() const { return figures_.size() != 0; }
    // Bytes after every answer: 0, 1 (00) or 2 (00 FF).
    int StrayBytes() const;
    // 0 for none of these.
    std::chrono::milliseconds BabblePeriod() const;
    std::chrono::milliseconds BurstPeriod() const;
    std::chrono::milliseconds TransportDelay() const;
    // "stray=1", "delay=30", ... for each fault the line has, as Add takes them.
    std::vector<std::string> Texts() const;

    static const char* Name(LineFault fault);
    // "stray[=BYTES] (...), babble[=MS] (...), ...", for help texts.
    static std::string KindList();

private:
    int FigureOf(LineFault fault) const;
    std::map<LineFault, int> figures_;
};
