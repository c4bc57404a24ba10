// Replaces the global allocation operators with counting ones on top of
// malloc and free. Every form is replaced here, array and nothrow ones
// included: a sanitizer runtime supplies its own versions of any form left
// to the library, and those would not pair with the frees below.
#include "AllocationCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Word-sized counters: lock-free on every target, including 32-bit ones
// that have no 64-bit atomic instructions.
std::atomic<std::size_t> g_allocations{0};
std::atomic<std::size_t> g_releases{0};
std::atomic<std::ptrdiff_t> g_heap_bytes{0};

void* CountAllocation(void* block) {
    if (block == nullptr)
        throw std::bad_alloc();
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_heap_bytes.fetch_add(static_cast<std::ptrdiff_t>(malloc_usable_size(block)),
                           std::memory_order_relaxed);
    return block;
}

void CountRelease(void* block) {
    if (block == nullptr)
        return;
    g_releases.fetch_add(1, std::memory_order_relaxed);
    g_heap_bytes.fetch_sub(static_cast<std::ptrdiff_t>(malloc_usable_size(block)),
                           std::memory_order_relaxed);
}

}  // namespace

void* operator new(std::size_t size) {
    return CountAllocation(std::malloc(size == 0 ? 1 : size));
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    void* block = nullptr;
    if (posix_memalign(&block, static_cast<std::size_t>(alignment), size == 0 ? 1 : size) != 0)
        block = nullptr;
    return CountAllocation(block);
}

void operator delete(void* block) noexcept {
    CountRelease(block);
    std::free(block);
}

void operator delete(void* block, std::align_val_t) noexcept {
    CountRelease(block);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
    operator delete(block, alignment);
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return operator new(size, std::nothrow);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return operator new(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
    return operator new(size, alignment, std::nothrow);
}

void operator delete[](void* block) noexcept {
    operator delete(block);
}

void operator delete[](void* block, std::align_val_t alignment) noexcept {
    operator delete(block, alignment);
}

void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}

void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
    operator delete(block, alignment);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    operator delete(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    operator delete(block);
}

void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    operator delete(block, alignment);
}

void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    operator delete(block, alignment);
}

AllocationCounter::AllocationCounter() {
    Restart();
}

void AllocationCounter::Restart() {
    allocations_at_start_ = g_allocations.load(std::memory_order_relaxed);
    releases_at_start_ = g_releases.load(std::memory_order_relaxed);
    heap_at_start_ = g_heap_bytes.load(std::memory_order_relaxed);
}

std::uint64_t AllocationCounter::Allocations() const {
    return g_allocations.load(std::memory_order_relaxed) - allocations_at_start_;
}

std::uint64_t AllocationCounter::Releases() const {
    return g_releases.load(std::memory_order_relaxed) - releases_at_start_;
}

std::int64_t AllocationCounter::HeapGrowth() const {
    return g_heap_bytes.load(std::memory_order_relaxed) - heap_at_start_;
}
