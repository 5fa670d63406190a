#pragma once

#include "platform/ReadQueue.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tolvarin {

// The small device interface the scan engine reads and writes through.
// Offsets and lengths are in bytes; results follow the POSIX calls they stand
// for: seek answers the new offset or -1, read and write the byte count,
// 0 at the end of the device, or -1 with errno set.
class RawDevice {
  public:
    virtual ~RawDevice() = default;

    virtual int64_t seek(int64_t offset) = 0;
    virtual int64_t read(void* buffer, int64_t length) = 0;
    virtual int64_t write(const void* buffer, int64_t length) = 0;
    // seek(offset) then read(buffer, length), as one call where the device
    // can make it one: a timed read then pays for a single system call.
    virtual int64_t readAt(int64_t offset, void* buffer, int64_t length) {
        return seek(offset) == -1 ? -1 : read(buffer, length);
    }

    // The size the operating system reports for the device (bytes), or -1.
    virtual int64_t reportedSize() const = 0;
    // The device's logical block size; reads are widened to it where needed.
    virtual int64_t logicalBlockSize() const { return 512; }
    // A queue of up to depth reads in flight at once on this device, or
    // nullptr (with the reason in why) where the device serves one read at a
    // time.
    virtual std::unique_ptr<ReadQueue> openReadQueue(int depth, std::string* why) {
        (void)depth;
        if (why != nullptr) {
            *why = "the device serves one read at a time";
        }
        return nullptr;
    }
};

// A device wrapped to change a few of its calls (a fault, a gate, a timer):
// every call not overridden goes to the wrapped device. readAt stays
// seek + read, so a wrapper that changes read changes positioned reads too;
// no queue is offered unless the wrapper offers one.
class ForwardingDevice : public RawDevice {
  public:
    explicit ForwardingDevice(std::unique_ptr<RawDevice> inner) : inner_(std::move(inner)) {}

    int64_t seek(int64_t offset) override { return inner_->seek(offset); }
    int64_t read(void* buffer, int64_t length) override { return inner_->read(buffer, length); }
    int64_t write(const void* buffer, int64_t length) override {
        return inner_->write(buffer, length);
    }
    int64_t reportedSize() const override { return inner_->reportedSize(); }
    int64_t logicalBlockSize() const override { return inner_->logicalBlockSize(); }

  protected:
    RawDevice& inner() { return *inner_; }

  private:
    std::unique_ptr<RawDevice> inner_;
};

} // namespace tolvarin
