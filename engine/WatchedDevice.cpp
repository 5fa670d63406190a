#include "engine/WatchedDevice.h"

#include <cerrno>
#include <sys/stat.h>

namespace tolvarin {

WatchedDevice::WatchedDevice(std::unique_ptr<RawDevice> inner, std::string path,
                             std::function<void()> gone)
    : inner_(std::move(inner)), gone_(std::move(gone)) {
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
        path_ = std::move(path);
    }
}

bool WatchedDevice::unitGone(int error, const std::string& path) {
    if (error == ENODEV || error == ENXIO) {
        return true;
    }
    // A removed node (a detached loop device, an unplugged disk whose node
    // udev took away) fails reads with EIO on some kernels.
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

int64_t WatchedDevice::watch(int64_t result) {
    if (result < 0) {
        int error = errno;
        if (gone_ && unitGone(error, path_)) {
            gone_();
        }
        errno = error;
    }
    return result;
}

} // namespace tolvarin
