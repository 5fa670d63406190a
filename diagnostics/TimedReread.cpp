#include "diagnostics/TimedReread.h"

#include "base/Clock.h"
#include "platform/RawDevice.h"

#include <utility>

namespace tolvarin {

TimedReread::TimedReread(const Clock& clock, std::mutex& lock, Opener opener,
                         SpinnerLocation spinner)
    : clock_(clock), lock_(lock), opener_(std::move(opener)), spinner_(std::move(spinner)),
      buffer_(static_cast<std::size_t>(kReadSize)) {}

TimedReread::~TimedReread() = default;

RawDevice* TimedReread::device() {
    // Opened once for the run; a unit that could not be opened is tried
    // again at the next read (and reads as a failed seek meanwhile).
    if (!device_ && opener_) {
        device_ = opener_();
    }
    return device_.get();
}

int64_t TimedReread::readOnce() {
    ++readsMade_;
    return device_->read(buffer_.data(), kReadSize);
}

double TimedReread::surfaceScanDiagnosticsAtByte(int64_t location, int64_t reference) {
    for (;;) {
        RawDevice* unit = device();
        if (unit == nullptr) {
            return kSeekFailed;
        }
        if (reference > 0) {
            if (unit->seek(reference) < 0) {
                return kSeekFailed;
            }
            readOnce(); // only moves the head; its result does not matter
        }
        if (unit->seek(location) < 0) {
            return kSeekFailed;
        }
        if (spinner_) {
            spinner_(reference);
        }
        int64_t before = 0;
        int64_t after = 0;
        int64_t got = 0;
        {
            std::lock_guard<std::mutex> hold(lock_);
            before = clock_.monotonicMicros();
            got = readOnce();
            after = clock_.monotonicMicros();
        }
        if (after < before) {
            // A clock that went back measured nothing: read again.
            clock_.sleepMicros(kClockBackPauseMicros);
            continue;
        }
        double result = got == kReadSize ? convertLongLongTimeToDecimal(after - before)
                        : got < 0        ? kReadFailed
                                         : kShortRead;
        if (spinner_) {
            spinner_(reference + 1);
        }
        return result;
    }
}

int64_t TimedReread::obtainReferenceSector() {
    RawDevice* unit = device();
    if (unit == nullptr) {
        return -1;
    }
    const int64_t size = unit->reportedSize();
    int64_t candidate = 0;
    int64_t stride = kReferenceStride;
    for (;;) {
        candidate += stride;
        if (size > 0 && candidate > size - kReadSize) {
            return -1;
        }
        double result = surfaceScanDiagnosticsAtByte(candidate, 0);
        if (result > 0.0 && result < kReferenceFastEnough) {
            return candidate;
        }
        if (failedSeek(result)) {
            return -1;
        }
        if (failedRead(result)) {
            stride += kReferenceStrideGrowth;
        } else if (result == kShortRead && size <= 0) {
            // Without a known size, a read that comes back short is the end.
            return -1;
        }
    }
}

} // namespace tolvarin
