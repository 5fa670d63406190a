#include "tests/gui/support/ReadGate.h"

#include "qt/MainThread.h"

#include <chrono>

namespace tolvarin {

namespace {

class GatedDevice : public ForwardingDevice {
  public:
    GatedDevice(std::unique_ptr<RawDevice> inner, ReadGate& gate)
        : ForwardingDevice(std::move(inner)), gate_(gate) {}

    int64_t seek(int64_t offset) override {
        int64_t result = inner().seek(offset);
        if (result >= 0) {
            position_ = result;
        }
        return result;
    }
    int64_t read(void* buffer, int64_t length) override {
        gate_.pass(position_, length);
        int64_t result = inner().read(buffer, length);
        if (result > 0) {
            position_ += result;
        }
        return result;
    }
    int64_t write(const void* buffer, int64_t length) override {
        int64_t result = inner().write(buffer, length);
        if (result > 0) {
            position_ += result;
        }
        return result;
    }

  private:
    ReadGate& gate_;
    int64_t position_ = 0;
};

} // namespace

void ReadGate::arm(int64_t start, int64_t end) {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    start_ = start;
    end_ = end;
}

bool ReadGate::holding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holding_;
}

int ReadGate::held() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
}

void ReadGate::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    ++releases_;
    changed_.notify_all();
}

void ReadGate::pass(int64_t position, int64_t length) {
    if (MainThread::isCurrent()) {
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!armed_ || position + length <= start_ || position >= end_) {
        return;
    }
    armed_ = false;
    holding_ = true;
    ++held_;
    const int releases = releases_;
    changed_.wait_for(lock, std::chrono::minutes(1), [&] { return releases_ != releases; });
    holding_ = false;
}

std::unique_ptr<RawDevice> ReadGate::wrap(std::unique_ptr<RawDevice> device) {
    if (!device) {
        return nullptr;
    }
    return std::make_unique<GatedDevice>(std::move(device), *this);
}

} // namespace tolvarin
