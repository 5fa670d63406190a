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

class WatchedDevice::WatchedQueue : public ReadQueue {
  public:
    WatchedQueue(std::unique_ptr<ReadQueue> inner, WatchedDevice& device)
        : inner_(std::move(inner)), device_(device) {}
    int depth() const override { return inner_->depth(); }
    int inFlight() const override { return inner_->inFlight(); }
    bool submit(uint64_t tag, int64_t offset, void* buffer, int64_t length) override {
        return inner_->submit(tag, offset, buffer, length);
    }
    bool next(Completion* completion) override {
        if (!inner_->next(completion)) {
            return false;
        }
        watch(*completion);
        return true;
    }
    void useBufferMemory(void* base, size_t length) override {
        inner_->useBufferMemory(base, length);
    }

  private:
    void watch(const Completion& completion) {
        if (completion.result < 0) {
            errno = completion.error;
            device_.watch(-1);
        }
    }

    std::unique_ptr<ReadQueue> inner_;
    WatchedDevice& device_;
};

std::unique_ptr<ReadQueue> WatchedDevice::openReadQueue(int depth, std::string* why) {
    std::unique_ptr<ReadQueue> inner = inner_->openReadQueue(depth, why);
    if (!inner) {
        return nullptr;
    }
    return std::make_unique<WatchedQueue>(std::move(inner), *this);
}

} // namespace tolvarin
