#pragma once

#include "base/TestMeasurements.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tolvarin {

// The I/O counters the kernel keeps for a block device (its "stat" file in
// sysfs): requests and 512-byte sectors read and written since it appeared,
// and the requests under way.
struct IoCounters {
    int64_t readIos = 0;
    int64_t readSectors = 0;
    int64_t writeIos = 0;
    int64_t writeSectors = 0;
    int64_t inFlight = 0;
};

// Reads a unit's I/O counters, so that a scan can tell whether something
// else used the unit while it timed a read. One open file, read again at
// each sample: cheap enough to take between reads.
class DeviceActivity {
  public:
    virtual ~DeviceActivity() = default;
    // Answers false when the counters could not be read.
    virtual bool sample(IoCounters* out);

    // The counters of the block device at path (a partition has its own);
    // nullptr, with the reason in why, for an image file or anything the
    // kernel keeps no counters for.
    static std::unique_ptr<DeviceActivity> forDevice(const std::string& path, std::string* why);
    // Parses the text of a "stat" file; false when it holds too few numbers.
    static bool parse(const char* text, IoCounters* out);

  protected:
    DeviceActivity() = default;

  private:
    explicit DeviceActivity(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

// How the unit at path is attached and whether it rotates, from sysfs; an
// image file is described as one.
UnitDescription describeUnit(const std::string& path);
// The describing rules on a device's sysfs path (the target of
// /sys/dev/block/MAJOR:MINOR) and kernel name, for tests.
UnitDescription describeSysfsPath(const std::string& sysfsPath, const std::string& diskName);

// The device node of the whole disk a block device belongs to (the disk
// itself for a disk), for tools that ask the disk; empty when path is no
// block device.
std::string wholeDiskPath(const std::string& path);

} // namespace tolvarin
