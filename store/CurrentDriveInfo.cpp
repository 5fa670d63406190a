#include "store/CurrentDriveInfo.h"

#include "platform/Paths.h"

namespace tolvarin {

namespace {

// The value of the first blank-separated field of line that begins with key
// ("" when there is none).
std::string fieldValue(const std::string& line, const std::string& key) {
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (line.compare(start, key.size(), key) == 0 && end - start >= key.size()) {
            return line.substr(start + key.size(), end - start - key.size());
        }
        start = end + 1;
    }
    return "";
}

} // namespace

CurrentDriveInfo CurrentDriveInfo::forDriveEntry(const std::vector<std::string>& driveEntry,
                                                 const std::string& fullDataFileName) {
    CurrentDriveInfo info;
    std::string identity = driveEntry.size() > 1 ? driveEntry[1] : "";
    info.setCurrentDisk(fieldValue(identity, "DISK:"));
    info.setIsPrimary(!driveEntry.empty() && driveEntry[0].rfind("disk:", 0) == 0);
    // A whole disk without volumes has an empty PART: value, so its path is
    // the disk's either way.
    std::string device = info.currentDisk();
    if (!info.isPrimary()) {
        device += fieldValue(identity, "PART:");
    }
    info.setScanningString(device.empty() ? "" : Paths::rawDevicePathForIdentifier(device));
    info.setFullDataFileName(fullDataFileName);
    info.setDriveInfo(driveEntry);
    return info;
}

void CurrentDriveInfo::setCurrentDisk(const std::string& value) {
    currentDisk_ = value;
}

void CurrentDriveInfo::setScanningString(const std::string& value) {
    scanningString_ = value;
}

void CurrentDriveInfo::setIsPrimary(bool value) {
    isPrimary_ = value;
}

void CurrentDriveInfo::setFullDataFileName(const std::string& value) {
    fullDataFileName_ = value;
}

void CurrentDriveInfo::setDriveInfo(const std::vector<std::string>& value) {
    driveInfo_ = value;
}

} // namespace tolvarin
