#pragma once

#include <string>
#include <vector>

namespace tolvarin {

// One attached drive matched to its header file in the data directory.
class CurrentDriveInfo {
  public:
    // The record of a drive entry matched to (or given) the header at
    // fullDataFileName: the disk identifier from the DISK: value of the first
    // identity line, whole disk when line 0 begins "disk:", and the raw device
    // path of the disk, or of the volume (disk identifier + PART: value).
    static CurrentDriveInfo forDriveEntry(const std::vector<std::string>& driveEntry,
                                          const std::string& fullDataFileName);

    // Disk identifier of the drive (sda, nvme0n1).
    const std::string& currentDisk() const { return currentDisk_; }
    void setCurrentDisk(const std::string& value);
    // Raw device path the scan engine opens (/dev/sda, /dev/sda2).
    const std::string& scanningString() const { return scanningString_; }
    void setScanningString(const std::string& value);
    // true for a whole disk, false for a volume.
    bool isPrimary() const { return isPrimary_; }
    void setIsPrimary(bool value);
    // Full path of the drive's header file.
    const std::string& fullDataFileName() const { return fullDataFileName_; }
    void setFullDataFileName(const std::string& value);
    // The drive entry this record was made from.
    const std::vector<std::string>& driveInfo() const { return driveInfo_; }
    void setDriveInfo(const std::vector<std::string>& value);

  private:
    std::string currentDisk_;
    std::string scanningString_;
    bool isPrimary_ = false;
    std::string fullDataFileName_;
    std::vector<std::string> driveInfo_;
};

} // namespace tolvarin
