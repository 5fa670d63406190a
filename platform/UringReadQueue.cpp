#include "platform/PosixRawDevice.h"

#include <cerrno>
#include <cstring>
#include <deque>

#if TOLVARIN_HAVE_LIBURING
#include <liburing.h>
#endif

namespace tolvarin {

#if TOLVARIN_HAVE_LIBURING

namespace {

// io_uring on the device's descriptor. A read the kernel cannot take as
// direct I/O (an offset or length off the device's block) is served at once
// through the device's own bounced read and handed out as already complete,
// so the caller never sees EINVAL for what the one-at-a-time path reads.
class UringReadQueue : public ReadQueue {
  public:
    UringReadQueue(PosixRawDevice& device, int depth) : device_(device), depth_(depth) {}
    ~UringReadQueue() override {
        // The kernel may still write into the caller's buffers: wait for
        // every read before the ring goes.
        Completion ignored;
        while (inFlightKernel_ > 0 && next(&ignored)) {
        }
        if (ready_) {
            io_uring_queue_exit(&ring_);
        }
    }
    UringReadQueue(const UringReadQueue&) = delete;
    UringReadQueue& operator=(const UringReadQueue&) = delete;

    int setUp() {
        // Completions wait for the scan's next call into the kernel instead
        // of interrupting it (kernels from 5.19; older ones take no flags).
        int rc = io_uring_queue_init(static_cast<unsigned>(depth_), &ring_,
                                     IORING_SETUP_COOP_TASKRUN | IORING_SETUP_TASKRUN_FLAG);
        if (rc == -EINVAL) {
            rc = io_uring_queue_init(static_cast<unsigned>(depth_), &ring_, 0);
        }
        ready_ = rc == 0;
        return rc;
    }

    int depth() const override { return depth_; }
    int inFlight() const override { return inFlightKernel_ + static_cast<int>(done_.size()); }

    void useBufferMemory(void* base, size_t length) override {
        // Registered once, the pages stay pinned for the ring's life instead
        // of being pinned and released for every read. Without the right to
        // lock that much memory every read simply pins its own.
        if (fixedBase_ != nullptr || inFlight() > 0 || base == nullptr || length == 0) {
            return;
        }
        iovec region{base, length};
        if (io_uring_register_buffers(&ring_, &region, 1) == 0) {
            fixedBase_ = static_cast<char*>(base);
            fixedEnd_ = fixedBase_ + length;
        }
    }

    bool submit(uint64_t tag, int64_t offset, void* buffer, int64_t length) override {
        if (inFlight() >= depth_ || length <= 0) {
            return false;
        }
        if (!alignedForKernel(buffer, offset, length)) {
            Completion c;
            c.tag = tag;
            c.result = device_.readAt(offset, buffer, length);
            c.error = c.result < 0 ? errno : 0;
            done_.push_back(c);
            return true;
        }
        io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
        if (sqe == nullptr) {
            return false;
        }
        auto* start = static_cast<char*>(buffer);
        if (start >= fixedBase_ && start + length <= fixedEnd_) {
            io_uring_prep_read_fixed(sqe, device_.fd(), buffer, static_cast<unsigned>(length),
                                     static_cast<uint64_t>(offset), 0);
        } else {
            io_uring_prep_read(sqe, device_.fd(), buffer, static_cast<unsigned>(length),
                               static_cast<uint64_t>(offset));
        }
        io_uring_sqe_set_data64(sqe, tag);
        // Handed to the kernel, with the others queued meanwhile, at the
        // caller's next call of next().
        ++unsubmitted_;
        ++inFlightKernel_;
        return true;
    }

    bool next(Completion* completion) override {
        if (!done_.empty()) {
            *completion = done_.front();
            done_.pop_front();
            return true;
        }
        if (inFlightKernel_ == 0) {
            return false;
        }
        // The reads queued since the last call go to the kernel first, in
        // the system call that waits where nothing has finished yet.
        if (!handOver()) {
            return false;
        }
        io_uring_cqe* cqe = nullptr;
        int rc = 0;
        do {
            // Always through liburing's own function (io_uring_wait_cqe may
            // peek inline): the fault library of the tests sees it there.
            rc = io_uring_wait_cqe_nr(&ring_, &cqe, 1);
        } while (rc == -EINTR);
        if (rc < 0 || cqe == nullptr) {
            errno = -rc;
            return false;
        }
        completion->tag = io_uring_cqe_get_data64(cqe);
        completion->result = cqe->res < 0 ? -1 : cqe->res;
        completion->error = cqe->res < 0 ? -cqe->res : 0;
        io_uring_cqe_seen(&ring_, cqe);
        --inFlightKernel_;
        return true;
    }

  private:
    // Submits the reads queued since the last call; where none has finished
    // yet, the same system call waits for the first.
    bool handOver() {
        if (unsubmitted_ == 0) {
            return true;
        }
        int rc = 0;
        do {
            rc = io_uring_cq_ready(&ring_) > 0 ? io_uring_submit(&ring_)
                                               : io_uring_submit_and_wait(&ring_, 1);
        } while (rc == -EINTR);
        if (rc < 0) {
            // The kernel took none of them: they will never complete.
            inFlightKernel_ -= unsubmitted_;
            unsubmitted_ = 0;
            errno = -rc;
            return false;
        }
        unsubmitted_ = 0;
        return true;
    }

    bool alignedForKernel(const void* buffer, int64_t offset, int64_t length) const {
        if (!device_.isDirect()) {
            return true;
        }
        int64_t block = device_.logicalBlockSize();
        auto address = reinterpret_cast<uintptr_t>(buffer);
        return address % AlignedBuffer::kAlignment == 0 && offset % block == 0 &&
               length % block == 0;
    }

    PosixRawDevice& device_;
    int depth_;
    io_uring ring_{};
    bool ready_ = false;
    int inFlightKernel_ = 0;
    int unsubmitted_ = 0;
    char* fixedBase_ = nullptr;
    char* fixedEnd_ = nullptr;
    std::deque<Completion> done_;
};

} // namespace

std::unique_ptr<ReadQueue> PosixRawDevice::openReadQueue(int depth, std::string* why) {
    auto queue = std::make_unique<UringReadQueue>(*this, depth);
    int rc = queue->setUp();
    if (rc < 0) {
        if (why != nullptr) {
            *why = std::string("io_uring is not available here (") + std::strerror(-rc) + ")";
        }
        return nullptr;
    }
    return queue;
}

#else

std::unique_ptr<ReadQueue> PosixRawDevice::openReadQueue(int, std::string* why) {
    if (why != nullptr) {
        *why = "this build has no io_uring support";
    }
    return nullptr;
}

#endif

} // namespace tolvarin
