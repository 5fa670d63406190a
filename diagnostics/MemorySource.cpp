#include "diagnostics/MemorySource.h"

namespace tolvarin {

namespace {

class SystemMemorySource : public MemorySource {
  public:
    MemoryFacts facts() override { return MemoryInfo::current(); }
};

} // namespace

MemoryBlock MemorySource::allocate(std::size_t size) {
    // calloc hands out fresh zero pages without touching them.
    return MemoryBlock(static_cast<std::byte*>(std::calloc(size, 1)));
}

void MemorySource::settle(int /*blockIndex*/, std::byte* /*block*/, std::size_t /*size*/) {}

std::unique_ptr<MemorySource> MemorySource::system() {
    return std::make_unique<SystemMemorySource>();
}

} // namespace tolvarin
