#include "platform/PosixRawDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/stat.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

int64_t roundDown(int64_t value, int64_t unit) {
    return value / unit * unit;
}
int64_t roundUp(int64_t value, int64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// The offset alignment O_DIRECT needs on an image file. The kernel says so
// where it can (statx STATX_DIOALIGN); widening every read to the file
// system block would otherwise time 4096-byte reads for 1,024-byte seek reads.
int64_t directIOAlignment(int fd, const struct stat& st) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 &&
        (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align != 0) {
        return std::max<int64_t>(512, sx.stx_dio_offset_align);
    }
    // Some file systems (tmpfs) take O_DIRECT without reporting an alignment:
    // a 512-byte read at offset 512 shows whether sectors will do.
    AlignedBuffer probe(512);
    if (::pread(fd, probe.data(), 512, 512) >= 0) {
        return 512;
    }
    return std::max<int64_t>(512, st.st_blksize);
}

} // namespace

std::unique_ptr<PosixRawDevice> PosixRawDevice::open(const std::string& path, Access access,
                                                     int* errorNumber, std::string* message) {
    auto fail = [&](int err, const std::string& text) -> std::unique_ptr<PosixRawDevice> {
        if (errorNumber != nullptr) {
            *errorNumber = err;
        }
        if (message != nullptr) {
            *message = path + ": " + text;
        }
        return nullptr;
    };

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int err = errno;
        return fail(err, std::strerror(err));
    }
    // Opening some files has effects of its own (a FIFO waits for a writer,
    // a terminal may become the controlling one), so only the two kinds a
    // unit can be are opened at all.
    auto refusedKind = [&](const struct stat& s) -> std::unique_ptr<PosixRawDevice> {
        if (S_ISDIR(s.st_mode)) {
            return fail(EISDIR, "is a directory, not a device");
        }
        if (S_ISCHR(s.st_mode)) {
            // A character device (/dev/zero, a tape, a terminal) has no size
            // and no sectors to test; reading it would size it at petabytes.
            return fail(ENOTBLK, "is a character device, not a block device or an image file");
        }
        return fail(ENOTBLK, "is not a block device or an image file");
    };
    auto unitKind = [](const struct stat& s) { return S_ISBLK(s.st_mode) || S_ISREG(s.st_mode); };
    if (!unitKind(st)) {
        return refusedKind(st);
    }

    // O_NONBLOCK and O_NOCTTY: should another file have taken the name since
    // the look above, opening it neither waits nor takes a terminal. Reads of
    // block devices and regular files do not heed O_NONBLOCK; it is cleared
    // all the same once the kind is confirmed on the descriptor.
    int flags =
        (access == Access::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool direct = true;
    int fd = ::open(path.c_str(), flags | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
        // Some file systems (tmpfs) refuse O_DIRECT; only then do without it.
        direct = false;
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        int err = errno;
        return fail(err, std::strerror(err));
    }
    UniqueFd opened(fd);
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        return fail(err, std::strerror(err));
    }
    if (!unitKind(st)) {
        return refusedKind(st);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    opened.release();

    std::unique_ptr<PosixRawDevice> device(new PosixRawDevice());
    device->fd_.reset(fd);
    device->path_ = path;
    device->direct_ = direct;

    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
            device->reportedSize_ = static_cast<int64_t>(bytes);
        }
        int sectorSize = 0;
        if (::ioctl(fd, BLKSSZGET, &sectorSize) == 0 && sectorSize >= 512) {
            device->blockSize_ = sectorSize;
        }
    } else if (S_ISREG(st.st_mode)) {
        device->reportedSize_ = st.st_size;
        if (direct) {
            device->blockSize_ = directIOAlignment(fd, st);
        }
    }
    if (!direct) {
        device->blockSize_ = std::max<int64_t>(512, device->blockSize_);
    }
    return device;
}

bool PosixRawDevice::aligned(const void* buffer, int64_t offset, int64_t length) const {
    if (!direct_) {
        return true;
    }
    auto address = reinterpret_cast<uintptr_t>(buffer);
    if (address % AlignedBuffer::kAlignment != 0) {
        return false;
    }
    // Asked before every read: a mask where the block size is a power of
    // two (as the kernel's are), two divisions only for any other.
    auto block = static_cast<uint64_t>(blockSize_);
    if (block != 0 && (block & (block - 1)) == 0) {
        return ((static_cast<uint64_t>(offset) | static_cast<uint64_t>(length)) & (block - 1)) == 0;
    }
    return offset % blockSize_ == 0 && length % blockSize_ == 0;
}

int64_t PosixRawDevice::seek(int64_t offset) {
    // Transfers go to position_, not to the descriptor's offset; lseek
    // still judges the offset as every caller expects.
    off_t result = ::lseek(fd_.get(), offset, SEEK_SET);
    if (result < 0) {
        return -1;
    }
    position_ = result;
    return result;
}

int64_t PosixRawDevice::read(void* buffer, int64_t length) {
    if (length <= 0) {
        return 0;
    }
    if (!aligned(buffer, position_, length)) {
        return bouncedRead(buffer, length);
    }
    ssize_t n = ::pread(fd_.get(), buffer, static_cast<size_t>(length), position_);
    if (n > 0) {
        position_ += n;
    }
    return n;
}

int64_t PosixRawDevice::readAt(int64_t offset, void* buffer, int64_t length) {
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    position_ = offset;
    return read(buffer, length);
}

int64_t PosixRawDevice::bouncedRead(void* buffer, int64_t length) {
    int64_t start = roundDown(position_, blockSize_);
    int64_t end = roundUp(position_ + length, blockSize_);
    auto span = static_cast<size_t>(end - start);
    if (bounce_.size() < span) {
        bounce_.allocate(span);
    }
    ssize_t n = ::pread(fd_.get(), bounce_.data(), span, start);
    if (n < 0) {
        return -1;
    }
    int64_t skip = position_ - start;
    int64_t got = std::min<int64_t>(length, n - skip);
    if (got <= 0) {
        return 0;
    }
    std::memcpy(buffer, bounce_.data() + skip, static_cast<size_t>(got));
    position_ += got;
    return got;
}

int64_t PosixRawDevice::write(const void* buffer, int64_t length) {
    if (length <= 0) {
        return 0;
    }
    if (!aligned(buffer, position_, length)) {
        return bouncedWrite(buffer, length);
    }
    ssize_t n = ::pwrite(fd_.get(), buffer, static_cast<size_t>(length), position_);
    if (n > 0) {
        position_ += n;
    }
    return n;
}

int64_t PosixRawDevice::bouncedWrite(const void* buffer, int64_t length) {
    // A write smaller than a logical block covers the enclosing block: read it,
    // patch in the caller's bytes and write the block back.
    int64_t start = roundDown(position_, blockSize_);
    int64_t end = roundUp(position_ + length, blockSize_);
    auto span = static_cast<size_t>(end - start);
    if (bounce_.size() < span) {
        bounce_.allocate(span);
    }
    ssize_t n = ::pread(fd_.get(), bounce_.data(), span, start);
    if (n < 0) {
        return -1;
    }
    if (static_cast<size_t>(n) < span) {
        std::memset(bounce_.data() + n, 0, span - static_cast<size_t>(n));
    }
    int64_t skip = position_ - start;
    std::memcpy(bounce_.data() + skip, buffer, static_cast<size_t>(length));
    ssize_t w = ::pwrite(fd_.get(), bounce_.data(), span, start);
    if (w < 0) {
        return -1;
    }
    if (w < skip + length) {
        return -1;
    }
    position_ += length;
    return length;
}

} // namespace tolvarin
