#include "diagnostics/MemoryTest.h"

#include "logging/Logger.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>

namespace tolvarin {

namespace {

std::atomic<int>& passes() {
    static std::atomic<int> counter{0};
    return counter;
}

} // namespace

MemoryTest::MemoryTest(MemorySource& source, std::string logFile)
    : source_(source), logFile_(std::move(logFile)), limits_(source.limits()) {
    updateMemoryStats();
}

int MemoryTest::passCounter() {
    return passes().load();
}

void MemoryTest::fillMemoryBuffer(std::byte* buffer, std::size_t size, uint8_t byte) {
    std::memset(buffer, byte, size);
}

void MemoryTest::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

void MemoryTest::updateMemoryStats() {
    const MemoryFacts facts = source_.facts();
    totalMemory_ = facts.total;
    freeMemory_ = facts.usable();
    totalLargeBlocks_ = static_cast<int>(std::min<uint64_t>(freeMemory_ / kBlockSize, INT32_MAX));
    const int share = static_cast<int>(static_cast<int64_t>(totalLargeBlocks_) * 3 / 4);
    const uint64_t leavable = freeMemory_ > limits_.reserve ? freeMemory_ - limits_.reserve : 0;
    const uint64_t allowed = std::min(leavable, limits_.cap) / kBlockSize;
    testLargeBlocks_ = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(share), allowed));
    capped_ = testLargeBlocks_ < share;
    log("Number of test blocks available: %d\n", totalLargeBlocks_);
}

bool MemoryTest::prepMemoryTest() {
    updateMemoryStats();
    log("\nTotal Memory: %llu\n", static_cast<unsigned long long>(totalMemory_));
    log("Free Memory: %llu\n", static_cast<unsigned long long>(freeMemory_));
    log("Free Memory Percentage: %5.3f\n",
        totalMemory_ > 0
            ? static_cast<double>(freeMemory_) * 100.0 / static_cast<double>(totalMemory_)
            : 0.0);
    if (capped_) {
        log("Memory test limited to %d blocks so that the system keeps enough free memory.\n",
            testLargeBlocks_);
    }
    testBuffers_.clear();
    testBuffers_.reserve(static_cast<std::size_t>(testLargeBlocks_));
    for (int k = 0; k < testLargeBlocks_; ++k) {
        MemoryBlock block = source_.allocate(kBlockSize);
        if (!block) {
            if (k == 0) {
                testLargeBlocks_ = 0;
                return false;
            }
            log("COULDN'T ALLOCATE MEMORY!!\n");
            // One block more is given back than failed: the machine is short
            // of memory now.
            testLargeBlocks_ = k - 1;
            testBuffers_.resize(static_cast<std::size_t>(testLargeBlocks_));
            if (testLargeBlocks_ == 0) {
                return false;
            }
            break;
        }
        testBuffers_.push_back(std::move(block));
    }
    log("Memory taken for testing: %llu bytes\n", static_cast<unsigned long long>(bytesTaken()));
    log("Number of test blocks assigned: %d\n\n", testLargeBlocks_);
    return true;
}

uint64_t MemoryTest::bytesTaken() const {
    return static_cast<uint64_t>(testBuffers_.size()) * kBlockSize;
}

bool MemoryTest::doMemoryTest() {
    const int pass = passes().fetch_add(1) + 1;
    if (testBuffers_.empty()) {
        return true;
    }
    std::byte* first = testBuffers_.front().get();
    fillMemoryBuffer(first, kBlockSize, patternForPass(pass));
    bool passed = true;
    for (std::size_t k = 1; k < testBuffers_.size(); ++k) {
        std::byte* copy = testBuffers_[k].get();
        std::memcpy(copy, first, kBlockSize);
        source_.settle(static_cast<int>(k), copy, kBlockSize);
        if (std::memcmp(copy, first, kBlockSize) != 0) {
            log("\tERROR: Memory error detected on block %d\n", static_cast<int>(k));
            passed = false;
        }
    }
    return passed;
}

void MemoryTest::memoryTestCleanup() {
    log("\nFreeing memory test blocks\n");
    testBuffers_.clear();
}

} // namespace tolvarin
