#pragma once

#include "diagnostics/MemorySource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvarin {

// The memory and system bus test: takes three quarters of the free memory
// in 8 MiB blocks and, in each pass, fills the first block with a pattern,
// copies it into every other block and compares each copy with the first.
// A difference is a memory error. On this system "free" is what the kernel
// can give without swapping (MemAvailable), within the process's control
// group limit, and the share taken is capped so that the out-of-memory
// killer never has reason to end this program or the user's session.
class MemoryTest {
  public:
    static constexpr std::size_t kBlockSize = 8388608;
    static constexpr uint8_t kOddPattern = 0xFC;
    static constexpr uint8_t kEvenPattern = 0x7D;

    // initWithLogFile: the statistics are read at once, within the source's
    // limits.
    MemoryTest(MemorySource& source, std::string logFile);
    ~MemoryTest() = default;
    MemoryTest(const MemoryTest&) = delete;
    MemoryTest& operator=(const MemoryTest&) = delete;

    // Reads the memory statistics and the block counts; logs the blocks
    // available.
    void updateMemoryStats();
    // Allocates the blocks; false when not even one test block could be had.
    bool prepMemoryTest();
    // One pass; true when every copy read back as written.
    bool doMemoryTest();
    // Frees the blocks.
    void memoryTestCleanup();

    uint64_t totalMemory() const { return totalMemory_; }
    uint64_t freeMemory() const { return freeMemory_; }
    int totalLargeBlocks() const { return totalLargeBlocks_; }
    int testLargeBlocks() const { return testLargeBlocks_; }
    // The bytes the test holds now.
    uint64_t bytesTaken() const;
    // Whether the cap or the reserve lowered the number of blocks.
    bool capped() const { return capped_; }

    // The process-wide pass counter: every pass adds one, its parity picks
    // the pattern.
    static int passCounter();
    static uint8_t patternForPass(int pass) { return pass % 2 == 1 ? kOddPattern : kEvenPattern; }
    static void fillMemoryBuffer(std::byte* buffer, std::size_t size, uint8_t byte);

  private:
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    MemorySource& source_;
    std::string logFile_;
    MemoryLimits limits_;
    uint64_t totalMemory_ = 0;
    uint64_t freeMemory_ = 0;
    int totalLargeBlocks_ = 0;
    int testLargeBlocks_ = 0;
    bool capped_ = false;
    std::vector<MemoryBlock> testBuffers_;
};

} // namespace tolvarin
