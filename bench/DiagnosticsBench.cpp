// tolvarin-diag-bench: what the diagnostics cost against plain loops.
//
//   - Memory: a pass of the memory test (fill the first block, copy it into
//     every other block and compare each copy) against a plain loop of
//     memset + memcpy + memcmp over blocks of the same number and size.
//   - Re-reads (with --device): the timed re-reads of a set of findings, five
//     each, every one after an untimed read of the reference sector, against
//     a plain loop of pread calls at the same offsets in the same order.
//
// Each measurement is warmed up once, then plain loop and diagnostics
// alternate; the verdict is the median of the per-round ratios, so a burst
// of other work on the machine does not decide it.

#include "diagnostics/MemoryTest.h"
#include "diagnostics/TimedReread.h"
#include "platform/AlignedBuffer.h"
#include "platform/Env.h"
#include "platform/PosixRawDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tolvarin;

namespace {

constexpr double kMemoryTarget = 0.90; // memory test rate / plain rate, at least
constexpr double kRereadTarget = 1.10; // re-read time / plain time, at most
constexpr int kPasses = 5;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) {
        return 0;
    }
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A memory source of a made-up size that leaves nothing in reserve, so that
// the test takes exactly the blocks asked for.
class BenchMemory : public MemorySource {
  public:
    explicit BenchMemory(int blocks) {
        // Three quarters of the free blocks are tested.
        const uint64_t freeBlocks = (static_cast<uint64_t>(blocks) * 4 + 2) / 3;
        free_ = freeBlocks * MemoryTest::kBlockSize;
    }
    MemoryFacts facts() override { return MemoryFacts{free_, free_, std::nullopt}; }
    MemoryLimits limits() override { return MemoryLimits{UINT64_MAX, 0}; }

  private:
    uint64_t free_ = 0;
};

// The same work written plainly.
struct PlainBlocks {
    explicit PlainBlocks(int count) {
        for (int k = 0; k < count; ++k) {
            blocks.push_back(static_cast<std::byte*>(std::calloc(MemoryTest::kBlockSize, 1)));
        }
    }
    ~PlainBlocks() {
        for (std::byte* b : blocks) {
            std::free(b);
        }
    }
    bool pass(uint8_t pattern) {
        std::memset(blocks[0], pattern, MemoryTest::kBlockSize);
        bool same = true;
        for (std::size_t k = 1; k < blocks.size(); ++k) {
            std::memcpy(blocks[k], blocks[0], MemoryTest::kBlockSize);
            same = std::memcmp(blocks[k], blocks[0], MemoryTest::kBlockSize) == 0 && same;
        }
        return same;
    }
    std::vector<std::byte*> blocks;
};

bool benchMemory(int blocks, int rounds, const std::string& logFile) {
    BenchMemory source(blocks);
    MemoryTest test(source, logFile);
    if (!test.prepMemoryTest()) {
        std::printf("memory: the test could not take %d blocks\n", blocks);
        return false;
    }
    const int taken = static_cast<int>(test.bytesTaken() / MemoryTest::kBlockSize);
    PlainBlocks plain(taken);
    const double copied = static_cast<double>(taken - 1) * MemoryTest::kBlockSize / 1e9;
    // Warm-up: every page of both sets touched once.
    test.doMemoryTest();
    plain.pass(MemoryTest::kOddPattern);
    std::vector<double> plainRates, testRates, ratios;
    for (int r = 0; r < rounds; ++r) {
        double t0 = now();
        bool plainSame =
            plain.pass(r % 2 == 0 ? MemoryTest::kEvenPattern : MemoryTest::kOddPattern);
        double t1 = now();
        bool testSame = test.doMemoryTest();
        double t2 = now();
        if (!plainSame || !testSame) {
            std::printf("memory: a pass found a difference\n");
            return false;
        }
        plainRates.push_back(copied / (t1 - t0));
        testRates.push_back(copied / (t2 - t1));
        ratios.push_back(testRates.back() / plainRates.back());
        std::printf("  round %d: memory test %.2f GB/s, plain %.2f GB/s, %.1f%%\n", r + 1,
                    testRates.back(), plainRates.back(), 100.0 * ratios.back());
    }
    test.memoryTestCleanup();
    const double ratio = median(ratios);
    const bool met = ratio >= kMemoryTarget;
    std::printf("RESULT memory (%d blocks of 8 MiB): test %.2f GB/s, memcpy+memcmp %.2f GB/s "
                "(medians of %d rounds), test/plain %.1f%% (target >= %.0f%%: %s)\n",
                taken, median(testRates), median(plainRates), rounds, 100.0 * ratio,
                100.0 * kMemoryTarget, met ? "met" : "MISSED");
    return met;
}

bool benchRereads(const std::string& path, int findings, int rounds) {
    auto plainDevice = PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly);
    if (!plainDevice) {
        std::printf("re-reads: %s cannot be opened\n", path.c_str());
        return false;
    }
    std::mutex lock;
    TimedReread reread(Env::standard(), lock, [&path]() -> std::unique_ptr<RawDevice> {
        return PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly);
    });
    const int64_t reference = reread.obtainReferenceSector();
    const int64_t size = plainDevice->reportedSize();
    if (reference <= 0 || size < 2 * TimedReread::kReferenceStride) {
        std::printf("re-reads: no reference sector on %s\n", path.c_str());
        return false;
    }
    // Findings spread over the unit, at 4 KiB boundaries.
    std::vector<int64_t> locations;
    for (int i = 1; i <= findings; ++i) {
        int64_t at = (size - TimedReread::kReadSize) / (findings + 1) * i;
        locations.push_back(at / 4096 * 4096);
    }
    AlignedBuffer buffer(static_cast<std::size_t>(TimedReread::kReadSize));
    const int fd = plainDevice->fd();
    auto plainLoop = [&] {
        for (int64_t at : locations) {
            for (int p = 0; p < kPasses; ++p) {
                if (::pread(fd, buffer.data(), TimedReread::kReadSize, reference) < 0 ||
                    ::pread(fd, buffer.data(), TimedReread::kReadSize, at) < 0) {
                    return false;
                }
            }
        }
        return true;
    };
    auto rereads = [&] {
        for (int64_t at : locations) {
            for (int p = 0; p < kPasses; ++p) {
                double t = reread.surfaceScanDiagnosticsAtByte(at, reference);
                if (TimedReread::failedRead(t) || TimedReread::failedSeek(t)) {
                    return false;
                }
            }
        }
        return true;
    };
    if (!plainLoop() || !rereads()) {
        std::printf("re-reads: a read failed\n");
        return false;
    }
    std::vector<double> plainTimes, rereadTimes, ratios;
    for (int r = 0; r < rounds; ++r) {
        double t0 = now();
        plainLoop();
        double t1 = now();
        rereads();
        double t2 = now();
        plainTimes.push_back(t1 - t0);
        rereadTimes.push_back(t2 - t1);
        ratios.push_back(rereadTimes.back() / plainTimes.back());
    }
    const double perRead = 1e6 / (findings * kPasses);
    const double ratio = median(ratios);
    const bool met = ratio <= kRereadTarget;
    std::printf("RESULT re-reads (%d findings x %d, %s, %s): re-read %.1f us, plain loop %.1f us "
                "per re-read with its reference read (medians of %d rounds), re-read/plain "
                "%.1f%% (target <= %.0f%%: %s)\n",
                findings, kPasses, path.c_str(), plainDevice->isDirect() ? "O_DIRECT" : "cached",
                perRead * median(rereadTimes), perRead * median(plainTimes), rounds, 100.0 * ratio,
                100.0 * kRereadTarget, met ? "met" : "MISSED");
    return met;
}

} // namespace

int main(int argc, char** argv) {
    std::string device;
    int blocks = 48;
    int rounds = 7;
    int findings = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--device") {
            device = argv[i + 1];
        } else if (a == "--blocks") {
            blocks = std::max(2, std::atoi(argv[i + 1]));
        } else if (a == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (a == "--findings") {
            findings = std::max(1, std::atoi(argv[i + 1]));
        } else {
            std::fprintf(stderr,
                         "usage: %s [--device UNIT] [--blocks N] [--rounds N] "
                         "[--findings N]\n",
                         argv[0]);
            return 2;
        }
    }
    const std::string logFile = (std::filesystem::temp_directory_path() /
                                 ("tolvarin-diag-bench-" + std::to_string(::getpid()) + ".log"))
                                    .string();
    bool met = benchMemory(blocks, rounds, logFile);
    std::filesystem::remove(logFile);
    if (!device.empty()) {
        met = benchRereads(device, findings, rounds) && met;
    }
    return met ? 0 : 1;
}
