#pragma once

#include <cstdint>

// Counts what global operator new and delete do from its construction on.
//
// The counting itself lives in AllocationCounter.cpp, which replaces the
// global allocation operators of the executable that links it; link that
// file only into programs that measure allocations. Every operator new
// (plain, array, nothrow, aligned) and every operator delete is counted, in
// all threads. Heap growth is measured in malloc's usable bytes, the memory
// a block really occupies.
class AllocationCounter {
public:
    AllocationCounter();

    // Starts counting afresh from now.
    void Restart();

    // Blocks handed out by operator new since the start.
    std::uint64_t Allocations() const;
    // Blocks given back to operator delete since the start.
    std::uint64_t Releases() const;
    // Usable bytes allocated minus usable bytes released since the start.
    std::int64_t HeapGrowth() const;

private:
    std::uint64_t allocations_at_start_ = 0;
    std::uint64_t releases_at_start_ = 0;
    std::int64_t heap_at_start_ = 0;
};
