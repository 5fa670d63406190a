#include "tests/support/FakeClock.h"

#include <thread>

namespace tolvarin {

int64_t FakeClock::read(int64_t offset) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ++readings_;
    int64_t answer = now_ + offset;
    now_ += advancePerReading_;
    return answer;
}

int64_t FakeClock::wallMicros() const {
    int64_t offset;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        offset = wallOffset_;
    }
    return read(offset);
}

int64_t FakeClock::monotonicMicros() const {
    return read(0);
}

void FakeClock::sleepMicros(int64_t micros) const {
    std::function<void(int64_t)> sleep;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleep = sleep_;
    }
    if (sleep) {
        sleep(micros);
    } else {
        sleepOwn(micros);
    }
}

void FakeClock::sleepOwn(int64_t micros) const {
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

void FakeClock::waitFor(int64_t micros, std::condition_variable& /*cv*/,
                        std::unique_lock<std::mutex>& lock,
                        const std::function<bool()>& done) const {
    if (done()) {
        return;
    }
    lock.unlock();
    sleepMicros(micros);
    lock.lock();
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

void FakeClock::stepWall(int64_t micros) {
    std::lock_guard<std::mutex> lock(mutex_);
    wallOffset_ += micros;
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

void FakeClock::setSleep(std::function<void(int64_t)> sleep) {
    std::lock_guard<std::mutex> lock(mutex_);
    sleep_ = std::move(sleep);
}

} // namespace tolvarin
