#include "tests/support/FakeClock.h"

#include "base/Clock.h"

#include <thread>

namespace tolvarin {

FakeClock::FakeClock(int64_t startMicros) : now_(startMicros) {
    setTimeSource([this] { return read(); });
    setSleepFunction([this](int64_t micros) { sleep(micros); });
}

FakeClock::~FakeClock() {
    resetTimeSource();
    resetSleepFunction();
}

int64_t FakeClock::now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void FakeClock::advance(int64_t micros) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += micros;
}

void FakeClock::set(int64_t micros) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = micros;
}

void FakeClock::stepBackOnce(int64_t micros) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingStepBack_ = micros;
}

void FakeClock::setAdvancePerReading(int64_t micros) {
    std::lock_guard<std::mutex> lock(mutex_);
    advancePerReading_ = micros;
}

int64_t FakeClock::readings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readings_;
}

int64_t FakeClock::sleptMicros() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slept_;
}

int64_t FakeClock::sleepCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleepCalls_;
}

int64_t FakeClock::read() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++readings_;
    if (pendingStepBack_ != 0) {
        now_ -= pendingStepBack_;
        pendingStepBack_ = 0;
    }
    int64_t answer = now_;
    now_ += advancePerReading_;
    return answer;
}

void FakeClock::sleep(int64_t micros) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (micros > 0) {
            now_ += micros;
            slept_ += micros;
        }
        ++sleepCalls_;
    }
    // Let the thread that will clear a pause flag run.
    std::this_thread::yield();
}

} // namespace tolvarin
