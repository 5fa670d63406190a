#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace tolvarin {

// A zero-filled byte buffer aligned for direct I/O (4096 bytes covers every
// logical block size the kernel accepts with O_DIRECT).
class AlignedBuffer {
  public:
    static constexpr std::size_t kAlignment = 4096;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t size) { allocate(size); }

    void allocate(std::size_t size) {
        std::size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
        if (rounded == 0) {
            rounded = kAlignment;
        }
        void* p = std::aligned_alloc(kAlignment, rounded);
        if (p == nullptr) {
            throw std::bad_alloc();
        }
        std::memset(p, 0, rounded);
        data_.reset(static_cast<std::byte*>(p));
        size_ = size;
    }
    void release() {
        data_.reset();
        size_ = 0;
    }

    std::byte* data() { return data_.get(); }
    const std::byte* data() const { return data_.get(); }
    char* chars() { return reinterpret_cast<char*>(data_.get()); }
    std::size_t size() const { return size_; }
    bool empty() const { return !data_; }

  private:
    struct Free {
        void operator()(std::byte* p) const { std::free(p); }
    };
    std::unique_ptr<std::byte, Free> data_;
    std::size_t size_ = 0;
};

} // namespace tolvarin
