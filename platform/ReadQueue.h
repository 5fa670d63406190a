#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvarin {

// Reads kept in flight together: a scan submits several reads and takes
// their completions in whatever order the device finishes them. Each read is
// named by the tag it was submitted with.
class ReadQueue {
  public:
    struct Completion {
        uint64_t tag = 0;
        // Bytes read, 0 at the end of the device, or -1 with error set.
        int64_t result = 0;
        int error = 0;
    };

    virtual ~ReadQueue() = default;

    // How many reads may be in flight at once.
    virtual int depth() const = 0;
    // Starts a read of length bytes at offset into buffer (which stays
    // untouched by the caller until the read completes). False when the
    // read could not be started; nothing is then in flight for it.
    virtual bool submit(uint64_t tag, int64_t offset, void* buffer, int64_t length) = 0;
    // Waits for the next read to complete, in any order. False when nothing
    // is in flight or the queue itself failed.
    virtual bool next(Completion* completion) = 0;
    // The memory every buffer of later reads lies in, said once before the
    // first read: a queue may then spare the work of preparing each read's
    // buffer anew. The memory must outlive the queue.
    virtual void useBufferMemory(void* base, size_t length) {
        (void)base;
        (void)length;
    }
    // Reads submitted and not yet handed out by next().
    virtual int inFlight() const = 0;
};

} // namespace tolvarin
