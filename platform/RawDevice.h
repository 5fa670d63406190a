#pragma once

#include <cstdint>

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

    // The size the operating system reports for the device (bytes), or -1.
    virtual int64_t reportedSize() const = 0;
    // The device's logical block size; reads are widened to it where needed.
    virtual int64_t logicalBlockSize() const { return 512; }
};

} // namespace tolvarin
