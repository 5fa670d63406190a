#include "engine/DiskContext.h"

#include "base/Clock.h"
#include "engine/WatchedDevice.h"

#include <algorithm>
#include <cstring>

namespace tolvarin {

bool DiskContext::copyTextInto(char* area, std::size_t size, const std::string& text) {
    if (area == nullptr || size == 0) {
        return false;
    }
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(area, text.data(), n);
    std::memset(area + n, 0, size - n);
    return n == text.size();
}

void DiskContext::installDevice(std::unique_ptr<RawDevice> opened) {
    if (!opened) {
        device.reset();
        return;
    }
    device = std::make_unique<WatchedDevice>(std::move(opened), rawDevicePath, unitGone);
}

void initialize(DiskContext& disk) {
    const Clock* clock = disk.clock;
    std::function<void()> unitGone = std::move(disk.unitGone);
    disk = DiskContext{};
    disk.clock = clock;
    disk.unitGone = std::move(unitGone);
    disk.sectorBuffer.allocate(static_cast<std::size_t>(disk.sectorReadSize));
    disk.scanBuffer.allocate(static_cast<std::size_t>(disk.scanReadSize));
    disk.seekBuffer.allocate(static_cast<std::size_t>(disk.seekReadSize));
}

void deInitialize(std::unique_ptr<DiskContext>& disk) {
    disk.reset();
}

int doLowLevelSeekTest(double* min, double* max, double* total, double* avg, DiskContext& disk,
                       int64_t offsetA, int64_t offsetB, std::vector<int64_t>* cycleMicros) {
    constexpr int kCycles = 25;
    constexpr int kTrips = 5;

    RawDevice* device = disk.device.get();
    if (device == nullptr) {
        // Nothing to seek on: the same as a seek the system refused.
        return kSeekTestSeekFailed;
    }
    int64_t length = disk.seekReadSize;
    if (length > 0 && disk.seekBuffer.size() < static_cast<std::size_t>(length)) {
        // Never read past the buffer, whatever the read size was set to.
        disk.seekBuffer.allocate(static_cast<std::size_t>(length));
    }
    void* buffer = disk.seekBuffer.data();
    if (cycleMicros != nullptr) {
        cycleMicros->clear();
    }

    int64_t totalMicros = 0;
    int64_t minMicros = 0;
    int64_t maxMicros = 0;
    bool firstCycle = true;

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        // Untimed: brings the heads to A; neither result matters.
        device->seek(offsetA);
        device->read(buffer, length);

        int64_t t0 = disk.clock->monotonicMicros();
        for (int trip = 0; trip < kTrips; ++trip) {
            if (device->seek(offsetB) < 0) {
                return kSeekTestSeekFailed;
            }
            disk.lastReadResult = device->read(buffer, length);
            if (disk.lastReadResult < 0) {
                return kSeekTestReadFailed;
            }
            if (device->seek(offsetA) < 0) {
                return kSeekTestSeekFailed;
            }
            disk.lastReadResult = device->read(buffer, length);
            if (disk.lastReadResult < 0) {
                return kSeekTestReadFailed;
            }
        }
        int64_t t1 = disk.clock->monotonicMicros();

        int64_t duration = t1 - t0;
        if (cycleMicros != nullptr) {
            cycleMicros->push_back(duration);
        }
        totalMicros += duration;
        if (firstCycle) {
            minMicros = duration;
            maxMicros = duration;
            firstCycle = false;
        } else {
            if (duration < minMicros) {
                minMicros = duration;
            }
            if (duration > maxMicros) {
                maxMicros = duration;
            }
        }
    }

    double minSeconds = convertLongLongTimeToDecimal(minMicros);
    double maxSeconds = convertLongLongTimeToDecimal(maxMicros);
    double totalSeconds = convertLongLongTimeToDecimal(totalMicros);
    if (min != nullptr) {
        *min = minSeconds;
    }
    if (max != nullptr) {
        *max = maxSeconds;
    }
    if (total != nullptr) {
        *total = totalSeconds;
    }
    if (avg != nullptr) {
        *avg = totalSeconds / 25.0;
    }
    return maxSeconds > kSeekCycleThreshold ? kSeekTestSlow : kSeekTestPassed;
}

} // namespace tolvarin
