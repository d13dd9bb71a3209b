// test_heap.h - a counting heap for internal tests, included INSTEAD of
// heap.cpp: it defines the library's MemAlloc/MemCalloc/MemRealloc/MemFree,
// counts live blocks and requested bytes, and can fail a chosen allocation.
//
// Include it in exactly one source file per test program (every internal
// test is one), before the library sources it examines.
//
// Failure injection is a countdown: TestHeap::FailAllocation(k) makes the
// k-th allocation request from now on fail (1 = the very next one), and with
// keepFailing every request after it too. An allocation request is every
// call of MemAlloc, MemCalloc, and MemRealloc with a size other than 0.
// The typical loop that fails every allocation once:
//
//     for (std::size_t k = 1;; ++k) {
//         TestHeap::Reset();
//         TestHeap::FailAllocation(k);
//         RunTheCode();
//         EXPECT_EQ(TestHeap::LiveBlocks(), 0u);
//         if (!TestHeap::FailureHappened()) break;  // k passed the last allocation
//     }
#ifndef ZELTO_TESTS_INTERNAL_TEST_HEAP_H
#define ZELTO_TESTS_INTERNAL_TEST_HEAP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "heap.h"

namespace TestHeap {

struct Statistics {
    std::size_t requests;        // allocation requests since the last Reset
    std::size_t failures;        // requests refused on purpose since the last Reset
    std::size_t largestRequest;  // bytes of the largest single request since the last Reset
    std::size_t totalRequested;  // bytes of all requests since the last Reset (refused ones too)
    std::size_t liveBlocks;      // blocks allocated and not yet freed (never reset)
    std::size_t liveBytes;       // their bytes (never reset)
    std::size_t peakLiveBytes;   // the most liveBytes reached since the last Reset
};

namespace Detail {

// Every block carries a header in front of it, a multiple of the strictest
// alignment, that records its size and marks it as one of ours.
struct alignas(alignof(std::max_align_t)) BlockHeader {
    std::size_t size;
    std::uint64_t magic;
};

constexpr std::uint64_t liveMagic = 0x5A454C544F4C4956ull;   // a live block
constexpr std::uint64_t freedMagic = 0x5A454C544F444541ull;  // released by MemFree
constexpr unsigned char freedFill = 0xDD;  // what a released block is overwritten with
constexpr unsigned char freshFill = 0xCD;  // what a new MemAlloc block holds

inline Statistics statistics = {};
inline std::size_t requestsUntilFailure = 0;  // 0: no failure planned
inline bool keepFailingAfter = false;
inline bool failing = false;

// Counts one request of `size` bytes and says whether it is to be refused.
inline bool RefuseRequest(std::size_t size) {
    ++statistics.requests;
    statistics.totalRequested += size;
    if (size > statistics.largestRequest) statistics.largestRequest = size;
    if (failing && keepFailingAfter) {
        ++statistics.failures;
        return true;
    }
    if (requestsUntilFailure != 0 && --requestsUntilFailure == 0) {
        failing = true;
        ++statistics.failures;
        return true;
    }
    return false;
}

inline void CountLive(std::size_t size) {
    ++statistics.liveBlocks;
    statistics.liveBytes += size;
    if (statistics.liveBytes > statistics.peakLiveBytes) statistics.peakLiveBytes = statistics.liveBytes;
}

inline BlockHeader *HeaderOf(void *block) { return static_cast<BlockHeader *>(block) - 1; }

[[noreturn]] inline void Abort(const char *what) {
    std::fprintf(stderr, "test heap: %s\n", what);
    std::abort();
}

inline BlockHeader *CheckedHeaderOf(void *block) {
    BlockHeader *header = HeaderOf(block);
    if (header->magic == freedMagic) Abort("block released twice");
    if (header->magic != liveMagic) Abort("block not allocated by the test heap");
    return header;
}

inline void *NewBlock(std::size_t size) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    BlockHeader *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    header->size = size;
    header->magic = liveMagic;
    CountLive(size);
    return header + 1;
}

}  // namespace Detail

// Clears the request statistics and any planned failure. Live blocks stay
// counted: they are still live.
inline void Reset() {
    Detail::statistics.requests = 0;
    Detail::statistics.failures = 0;
    Detail::statistics.largestRequest = 0;
    Detail::statistics.totalRequested = 0;
    Detail::statistics.peakLiveBytes = Detail::statistics.liveBytes;
    Detail::requestsUntilFailure = 0;
    Detail::keepFailingAfter = false;
    Detail::failing = false;
}

// Plans the failure of the nth request from now (1 = the next); with
// keepFailing every later request fails as well. 0 plans no failure.
inline void FailAllocation(std::size_t nth, bool keepFailing = false) {
    Detail::requestsUntilFailure = nth;
    Detail::keepFailingAfter = keepFailing;
    Detail::failing = false;
}

inline Statistics Current() { return Detail::statistics; }
inline std::size_t LiveBlocks() { return Detail::statistics.liveBlocks; }
inline std::size_t LiveBytes() { return Detail::statistics.liveBytes; }
inline std::size_t Requests() { return Detail::statistics.requests; }
inline std::size_t LargestRequest() { return Detail::statistics.largestRequest; }
inline std::size_t TotalRequested() { return Detail::statistics.totalRequested; }
inline bool FailureHappened() { return Detail::statistics.failures != 0; }

}  // namespace TestHeap

namespace Talvoren {

void *MemAlloc(std::size_t size) {
    if (TestHeap::Detail::RefuseRequest(size)) return nullptr;
    void *block = TestHeap::Detail::NewBlock(size);
    if (block != nullptr) std::memset(block, TestHeap::Detail::freshFill, size);
    return block;
}

void *MemCalloc(std::size_t count, std::size_t size) {
    // The byte size as the request; an overflowing one is counted as the
    // largest possible request and refused, as calloc refuses it.
    bool overflows = size != 0 && count > SIZE_MAX / size;
    std::size_t bytes = overflows ? SIZE_MAX : count * size;
    if (TestHeap::Detail::RefuseRequest(bytes) || overflows) return nullptr;
    void *block = TestHeap::Detail::NewBlock(bytes);
    if (block != nullptr) std::memset(block, 0, bytes);
    return block;
}

void MemFree(void *block) {
    if (block == nullptr) return;
    TestHeap::Detail::BlockHeader *header = TestHeap::Detail::CheckedHeaderOf(block);
    --TestHeap::Detail::statistics.liveBlocks;
    TestHeap::Detail::statistics.liveBytes -= header->size;
    std::memset(block, TestHeap::Detail::freedFill, header->size);
    header->magic = TestHeap::Detail::freedMagic;
    std::free(header);
}

// Like realloc: a null block is a new allocation; a size of 0 releases the
// block and returns null; on failure the old block stays as it was.
void *MemRealloc(void *block, std::size_t size) {
    if (block == nullptr) return MemAlloc(size);
    if (size == 0) {
        MemFree(block);
        return nullptr;
    }
    TestHeap::Detail::BlockHeader *oldHeader = TestHeap::Detail::CheckedHeaderOf(block);
    if (TestHeap::Detail::RefuseRequest(size)) return nullptr;
    // Always moves, so that a caller holding on to the old address is caught.
    void *moved = TestHeap::Detail::NewBlock(size);
    if (moved == nullptr) return nullptr;
    std::size_t kept = oldHeader->size < size ? oldHeader->size : size;
    std::memcpy(moved, block, kept);
    if (size > kept) std::memset(static_cast<unsigned char *>(moved) + kept, TestHeap::Detail::freshFill, size - kept);
    MemFree(block);
    return moved;
}

}  // namespace Talvoren

#endif  // ZELTO_TESTS_INTERNAL_TEST_HEAP_H
