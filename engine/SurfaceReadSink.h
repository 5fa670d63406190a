#pragma once

#include <cstdint>

namespace tolvarin {

struct DiskContext;

// What a surface scan tells of its reads, whatever issues them (one read at
// a time, or a queue of them): the scan calls it once per read and knows
// nothing of what is kept. The scan controller's ScanRecorder stands behind
// it. Every call comes from the scan's thread.
class SurfaceReadSink {
  public:
    virtual ~SurfaceReadSink() = default;

    // A scan over the unit's section table begins, and ends (completed or
    // stopped).
    virtual void surfaceBegins(const DiskContext& disk) = 0;
    virtual void surfaceEnds() = 0;
    // A section is about to be read; it has been read: the answer is how
    // many of its slow reads were taken while other I/O used the unit.
    virtual void sectionBegins() = 0;
    virtual int sectionEnds() = 0;
    // One timed read: where, the bytes it brought, how long it took, and
    // whether it failed.
    virtual void readTimed(int64_t offset, int64_t length, int64_t micros, bool failed) = 0;
    // An untimed probe of a failed section.
    virtual void probed(int64_t offset, bool failed) = 0;
};

} // namespace tolvarin
