#pragma once

#include "platform/AlignedBuffer.h"
#include "platform/RawDevice.h"
#include "platform/UniqueFd.h"

#include <memory>
#include <string>

namespace tolvarin {

// The production device: a block device or an image file opened with
// O_DIRECT so that timed reads measure the medium, not the page cache.
// Reads and writes that are not aligned to the device's logical block (or to
// the file system block of an image) are widened to the enclosing aligned
// range and served through a bounce buffer, as one device call. The device
// keeps its own position: every transfer is a pread or pwrite at it, so a
// positioned read (readAt) is one system call.
class PosixRawDevice : public RawDevice {
  public:
    enum class Access { ReadOnly, ReadWrite };

    // Opens path; on failure answers nullptr and puts errno and a message in
    // the out parameters. A unit is a block device or a regular file (an
    // image): directories are refused with EISDIR, anything else (character
    // devices, FIFOs, sockets) with ENOTBLK.
    static std::unique_ptr<PosixRawDevice> open(const std::string& path, Access access,
                                                int* errorNumber = nullptr,
                                                std::string* message = nullptr);

    int64_t seek(int64_t offset) override;
    int64_t read(void* buffer, int64_t length) override;
    int64_t readAt(int64_t offset, void* buffer, int64_t length) override;
    int64_t write(const void* buffer, int64_t length) override;
    int64_t reportedSize() const override { return reportedSize_; }
    int64_t logicalBlockSize() const override { return blockSize_; }
    // io_uring on the device's descriptor where the kernel allows it.
    std::unique_ptr<ReadQueue> openReadQueue(int depth, std::string* why) override;

    int fd() const { return fd_.get(); }
    bool isDirect() const { return direct_; }
    const std::string& path() const { return path_; }

  private:
    PosixRawDevice() = default;
    bool aligned(const void* buffer, int64_t offset, int64_t length) const;
    int64_t bouncedRead(void* buffer, int64_t length);
    int64_t bouncedWrite(const void* buffer, int64_t length);

    UniqueFd fd_;
    std::string path_;
    int64_t position_ = 0;
    int64_t reportedSize_ = -1;
    int64_t blockSize_ = 512;
    bool direct_ = false;
    AlignedBuffer bounce_;
};

} // namespace tolvarin
