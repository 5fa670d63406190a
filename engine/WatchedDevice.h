#pragma once

#include "platform/RawDevice.h"

#include <functional>
#include <memory>
#include <string>

namespace tolvarin {

// A unit's device that notices when the unit goes away: a call failing with
// ENODEV or ENXIO, or any failure once the device's node is gone, calls
// gone (every time; the receiver counts once). The failed call's result and
// errno are handed on unchanged.
class WatchedDevice : public RawDevice {
  public:
    // A path with no node now (a simulated unit) is never looked for later.
    WatchedDevice(std::unique_ptr<RawDevice> inner, std::string path, std::function<void()> gone);

    int64_t seek(int64_t offset) override { return watch(inner_->seek(offset)); }
    int64_t read(void* buffer, int64_t length) override {
        return watch(inner_->read(buffer, length));
    }
    int64_t readAt(int64_t offset, void* buffer, int64_t length) override {
        return watch(inner_->readAt(offset, buffer, length));
    }
    int64_t write(const void* buffer, int64_t length) override {
        return watch(inner_->write(buffer, length));
    }
    int64_t reportedSize() const override { return inner_->reportedSize(); }
    int64_t logicalBlockSize() const override { return inner_->logicalBlockSize(); }
    // The inner device's queue, its failed reads watched the same way.
    std::unique_ptr<ReadQueue> openReadQueue(int depth, std::string* why) override;

    // Whether errno of a failed call (or a vanished node at path, when
    // path is not empty) says the unit is gone.
    static bool unitGone(int error, const std::string& path);

  private:
    int64_t watch(int64_t result);
    class WatchedQueue;

    std::unique_ptr<RawDevice> inner_;
    std::string path_;
    std::function<void()> gone_;
};

} // namespace tolvarin
