#pragma once

#include "platform/MemoryInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tolvarin {

// A zero-filled block of memory, freed with the handle.
struct FreeMemoryBlock {
    void operator()(std::byte* block) const { std::free(block); }
};
using MemoryBlock = std::unique_ptr<std::byte, FreeMemoryBlock>;

// How much of the free memory the memory test may take at most.
struct MemoryLimits {
    // The most the test takes, whatever is free.
    uint64_t cap = uint64_t{4} << 30;
    // What it always leaves free for the system and other programs.
    uint64_t reserve = uint64_t{512} << 20;
};

// Where the memory test learns how much memory there is and takes its
// blocks from. The system's source asks the kernel; tests hand in one with
// a made-up size, allocations that fail, or a block that reads back wrong.
class MemorySource {
  public:
    virtual ~MemorySource() = default;

    // The memory of the machine as it stands now.
    virtual MemoryFacts facts() = 0;
    // The limits the test keeps to.
    virtual MemoryLimits limits() { return MemoryLimits{}; }
    // A zeroed block of size bytes; empty when none can be had.
    virtual MemoryBlock allocate(std::size_t size);
    // Called after a block was written and before it is read back: the
    // moment a fault of the memory would show. The system's source does
    // nothing.
    virtual void settle(int blockIndex, std::byte* block, std::size_t size);

    // The machine's memory (MemAvailable, control group limits).
    static std::unique_ptr<MemorySource> system();
};

} // namespace tolvarin
