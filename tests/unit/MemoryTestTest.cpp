#include "diagnostics/MemoryTest.h"
#include "diagnostics/MemorySource.h"
#include "logging/Logger.h"
#include "platform/MemoryInfo.h"
#include "platform/SafeFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace tolvarin {

namespace {

constexpr uint64_t MiB = 1048576;

class SizedMemory : public MemorySource {
  public:
    SizedMemory(uint64_t total, std::optional<uint64_t> available, MemoryLimits limits = {})
        : limits_(limits) {
        facts_.total = total;
        facts_.available = available;
    }
    MemoryFacts facts() override { return facts_; }
    MemoryLimits limits() override { return limits_; }
    MemoryBlock allocate(std::size_t size) override {
        ++allocations;
        return failAt == allocations ? MemoryBlock() : MemorySource::allocate(size);
    }
    MemoryFacts facts_;
    MemoryLimits limits_;
    int allocations = 0;
    int failAt = -1;
};

} // namespace

TEST(MemoryInfo, AvailableMemoryAndTheTightestControlGroupLimit) {
    MemoryFacts facts = MemoryInfo::parseMeminfo("MemTotal:       16314516 kB\n"
                                                 "MemFree:         1000000 kB\n"
                                                 "MemAvailable:    8000000 kB\n");
    EXPECT_EQ(facts.total, 16314516ull * 1024);
    EXPECT_EQ(facts.available, 8000000ull * 1024);
    EXPECT_EQ(facts.usable(), 8000000ull * 1024);
    // An old kernel without MemAvailable: nothing is known to be free.
    EXPECT_FALSE(MemoryInfo::parseMeminfo("MemTotal: 100 kB\n").available);
    EXPECT_EQ(MemoryInfo::parseMeminfo("garbage\nMemAvailable: x kB\n").usable(), 0u);

    std::map<std::string, std::string> files = {
        {"user.slice/memory.max", "max\n"},
        {"user.slice/user-1000.slice/memory.max", "2147483648\n"},
        {"user.slice/user-1000.slice/memory.current", "1073741824\n"},
        {"user.slice/user-1000.slice/app.scope/memory.max", "4294967296\n"},
        {"user.slice/user-1000.slice/app.scope/memory.current", "100\n"},
        {"memory/docker/abc/memory.limit_in_bytes", "536870912\n"},
        {"memory/docker/abc/memory.usage_in_bytes", "536870913\n"},
        {"memory/docker/memory.limit_in_bytes", "9223372036854771712\n"},
    };
    auto read = [&](const std::string& path) -> std::optional<std::string> {
        auto found = files.find(path);
        return found == files.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    // The parent's limit is tighter than the group's own.
    EXPECT_EQ(MemoryInfo::cgroupRoom("0::/user.slice/user-1000.slice/app.scope\n", read),
              1073741824u);
    EXPECT_FALSE(MemoryInfo::cgroupRoom("0::/\n", read));
    EXPECT_FALSE(MemoryInfo::cgroupRoom("0::/../../etc\n", read));
    // v1: over the limit leaves no room; "no limit" is no limit.
    EXPECT_EQ(MemoryInfo::cgroupRoom("4:memory:/docker/abc\n3:cpu:/x\n", read), 0u);
    EXPECT_FALSE(MemoryInfo::cgroupRoom("4:cpu,memory:/docker\n", read));

    facts.cgroupRoom = 1024;
    EXPECT_EQ(facts.usable(), 1024u);
    MemoryFacts here = MemoryInfo::current();
    EXPECT_GT(here.total, 0u);
    EXPECT_TRUE(here.available.has_value());
}

TEST(MemoryTest, TakesThreeQuartersOfTheFreeBlocksWithinItsLimits) {
    TempDir dir;
    const std::string log = dir.path() + "/log.txt";
    Logger::resetForTests();
    SizedMemory forty(160 * MiB, 40 * MiB, MemoryLimits{uint64_t{1} << 40, 0});
    MemoryTest test(forty, log);
    EXPECT_EQ(test.totalLargeBlocks(), 5);
    EXPECT_EQ(test.testLargeBlocks(), 3);
    EXPECT_FALSE(test.capped());

    // The reserve and the cap lower the share, and the log says what was
    // taken.
    SizedMemory big(64ull * 1024 * MiB, 32ull * 1024 * MiB);
    MemoryTest capped(big, log);
    EXPECT_EQ(capped.testLargeBlocks(), static_cast<int>((4096 * MiB) / MemoryTest::kBlockSize));
    EXPECT_TRUE(capped.capped());
    SizedMemory tight(8ull * 1024 * MiB, 600 * MiB);
    MemoryTest reserved(tight, log);
    EXPECT_EQ(reserved.testLargeBlocks(), static_cast<int>(88 * MiB / (8 * MiB)));
    ASSERT_TRUE(reserved.prepMemoryTest());
    reserved.memoryTestCleanup();
    // Statistics unavailable: no blocks, and the passes pass.
    SizedMemory unknown(0, std::nullopt);
    MemoryTest none(unknown, log);
    EXPECT_TRUE(none.prepMemoryTest());
    EXPECT_TRUE(none.doMemoryTest());

    ASSERT_TRUE(test.prepMemoryTest());
    EXPECT_EQ(test.bytesTaken(), 3 * MemoryTest::kBlockSize);
    std::string text = SafeFile::read(log).value_or("");
    EXPECT_NE(text.find("\nTotal Memory: 167772160\nFree Memory: 41943040\n"
                        "Free Memory Percentage: 25.000\n"),
              std::string::npos);
    EXPECT_NE(text.find("Memory test limited to 11 blocks"), std::string::npos);
    EXPECT_NE(text.find("Memory taken for testing: 25165824 bytes\n"
                        "Number of test blocks assigned: 3\n\n"),
              std::string::npos);

    // The pattern follows one process-wide pass counter.
    const int before = MemoryTest::passCounter();
    EXPECT_TRUE(test.doMemoryTest());
    EXPECT_TRUE(test.doMemoryTest());
    EXPECT_EQ(MemoryTest::passCounter(), before + 2);
    EXPECT_EQ(MemoryTest::patternForPass(1), 0xFC);
    EXPECT_EQ(MemoryTest::patternForPass(2), 0x7D);
    test.memoryTestCleanup();
    EXPECT_EQ(test.bytesTaken(), 0u);
}

TEST(MemoryTest, AFailedAllocationKeepsOneBlockLessOrEndsThePreparation) {
    TempDir dir;
    const std::string log = dir.path() + "/log.txt";
    Logger::resetForTests();
    SizedMemory memory(400 * MiB, 100 * MiB, MemoryLimits{uint64_t{1} << 40, 0});
    memory.failAt = 6; // blocks 0 to 4 come, the sixth does not
    MemoryTest test(memory, log);
    ASSERT_EQ(test.testLargeBlocks(), 9);
    ASSERT_TRUE(test.prepMemoryTest());
    EXPECT_EQ(test.testLargeBlocks(), 4);
    EXPECT_EQ(test.bytesTaken(), 4 * MemoryTest::kBlockSize);
    EXPECT_NE(SafeFile::read(log).value_or("").find("COULDN'T ALLOCATE MEMORY!!\n"),
              std::string::npos);
    for (int failAt : {1, 2}) {
        memory.allocations = 0;
        memory.failAt = failAt;
        EXPECT_FALSE(MemoryTest(memory, log).prepMemoryTest()) << failAt;
    }
}

} // namespace tolvarin
