#include "platform/DeviceActivity.h"

#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tolvarin {

namespace {

// "/sys/dev/block/MAJOR:MINOR" of a block device node, or empty.
std::string sysfsLinkOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return {};
    }
    return "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
           std::to_string(minor(st.st_rdev));
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return {};
    }
    return buffer;
}

// The sysfs directory of the whole disk: a partition's parent.
std::string diskDirectoryOf(const std::string& deviceDir) {
    struct stat st {};
    if (::stat((deviceDir + "/partition").c_str(), &st) == 0) {
        return deviceDir.substr(0, deviceDir.rfind('/'));
    }
    return deviceDir;
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

bool DeviceActivity::parse(const char* text, IoCounters* out) {
    // Fields: read I/Os, read merges, read sectors, read ticks, write I/Os,
    // write merges, write sectors, write ticks, in flight, ...
    int64_t fields[9] = {};
    const char* p = text;
    for (int64_t& field : fields) {
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(p, &end, 10);
        if (end == p || errno == ERANGE) {
            return false;
        }
        field = value;
        p = end;
    }
    out->readIos = fields[0];
    out->readSectors = fields[2];
    out->writeIos = fields[4];
    out->writeSectors = fields[6];
    out->inFlight = fields[8];
    return true;
}

bool DeviceActivity::sample(IoCounters* out) {
    char text[512];
    ssize_t n = ::pread(fd_.get(), text, sizeof text - 1, 0);
    if (n <= 0) {
        return false;
    }
    text[n] = '\0';
    return parse(text, out);
}

std::unique_ptr<DeviceActivity> DeviceActivity::forDevice(const std::string& path,
                                                          std::string* why) {
    std::string link = sysfsLinkOf(path);
    if (link.empty()) {
        if (why != nullptr) {
            *why = "the unit is no block device, so other I/O on it cannot be seen";
        }
        return nullptr;
    }
    std::string statPath = link + "/stat";
    UniqueFd fd(::open(statPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (why != nullptr) {
            *why = statPath + ": " + std::strerror(errno);
        }
        return nullptr;
    }
    std::unique_ptr<DeviceActivity> activity(new DeviceActivity(std::move(fd)));
    IoCounters probe;
    if (!activity->sample(&probe)) {
        if (why != nullptr) {
            *why = statPath + " holds no I/O counters";
        }
        return nullptr;
    }
    return activity;
}

UnitDescription describeSysfsPath(const std::string& sysfsPath, const std::string& diskName) {
    UnitDescription unit;
    auto has = [&](const char* part) { return sysfsPath.find(part) != std::string::npos; };
    if (diskName.rfind("loop", 0) == 0) {
        unit.transport = "loop";
    } else if (diskName.rfind("nvme", 0) == 0 || has("/nvme")) {
        unit.transport = "nvme";
        unit.nvme = true;
    } else if (has("/usb")) {
        unit.transport = "usb";
        unit.usbBridge = true;
    } else if (diskName.rfind("mmcblk", 0) == 0) {
        unit.transport = "mmc";
    } else if (has("/ata")) {
        unit.transport = "sata";
    } else if (has("/virtio")) {
        unit.transport = "virtio";
    } else if (has("/host")) {
        unit.transport = "scsi";
    }
    return unit;
}

UnitDescription describeUnit(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        UnitDescription unit;
        unit.transport = "file";
        unit.imageFile = true;
        return unit;
    }
    std::string link = sysfsLinkOf(path);
    std::string device = link.empty() ? std::string() : resolved(link);
    if (device.empty()) {
        return {};
    }
    std::string disk = diskDirectoryOf(device);
    UnitDescription unit = describeSysfsPath(disk, baseName(disk));
    // A loop device says it rotates whatever lies behind it.
    std::string rotational = firstLineOf(disk + "/queue/rotational");
    if (unit.transport != "loop" && (rotational == "0" || rotational == "1")) {
        unit.rotational = rotational == "1";
    }
    return unit;
}

std::string wholeDiskPath(const std::string& path) {
    std::string link = sysfsLinkOf(path);
    std::string device = link.empty() ? std::string() : resolved(link);
    if (device.empty()) {
        return {};
    }
    return Paths::rawDevicePathForIdentifier(baseName(diskDirectoryOf(device)));
}

} // namespace tolvarin
