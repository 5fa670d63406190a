#pragma once

#include "unitprobe/StringProcessor.h"

#include <cstdio>
#include <optional>
#include <string>

namespace tolvarin {

// One disk or one volume as the disk tool describes it. Text fields are
// absent until set; six setters turn the tool's raw words into the wording
// the application shows and keys on, the others store their argument as is.
class MediaStructure {
  public:
    using Text = std::optional<std::string>;

    bool isPrimaryDisk() const { return isPrimaryDisk_; }
    const Text& primaryDiskID() const { return primaryDiskID_; }
    const Text& primaryDiskSize() const { return primaryDiskSize_; }
    const Text& primaryDiskPartitionType() const { return primaryDiskPartitionType_; }
    const Text& volumeDiskID() const { return volumeDiskID_; }
    const Text& volumePartitionType() const { return volumePartitionType_; }
    const Text& volumeFileSystem() const { return volumeFileSystem_; }
    const Text& volumeName() const { return volumeName_; }
    const Text& volumePartitionSize() const { return volumePartitionSize_; }
    const Text& volumePartitionFreeSpace() const { return volumePartitionFreeSpace_; }
    const Text& SMARTStatus() const { return SMARTStatus_; }
    const Text& isInternal() const { return isInternal_; }
    const Text& interfaceType() const { return interfaceType_; }
    const Text& mediaType() const { return mediaType_; }
    const Text& isBootable() const { return isBootable_; }
    const Text& isEjectable() const { return isEjectable_; }
    const Text& UUID() const { return UUID_; }
    const StringProcessor& str() const { return str_; }

    // Stored as given.
    void setIsPrimaryDisk(bool value) { isPrimaryDisk_ = value; }
    void setPrimaryDiskID(const Text& value) { primaryDiskID_ = value; }
    void setVolumeDiskID(const Text& value) { volumeDiskID_ = value; }
    void setVolumeFileSystem(const Text& value) { volumeFileSystem_ = value; }
    void setVolumeName(const Text& value) { volumeName_ = value; }
    void setSMARTStatus(const Text& value) { SMARTStatus_ = value; }
    void setUUID(const Text& value) { UUID_ = value; }
    void setIsInternal(const Text& value) { isInternal_ = value; }
    void setMediaType(const Text& value) { mediaType_ = value; }
    void setIsBootable(const Text& value) { isBootable_ = value; }
    void setIsEjectable(const Text& value) { isEjectable_ = value; }

    // Normalised (an absent value stays absent).
    void setPrimaryDiskSize(const Text& value);
    void setPrimaryDiskPartitionType(const Text& value);
    void setVolumePartitionType(const Text& value);
    void setVolumePartitionSize(const Text& value);
    void setVolumePartitionFreeSpace(const Text& value);
    void setInterfaceType(const Text& value);

    // Prints every field, one per line; an absent field reads "(null)".
    void showContents(std::FILE* out = stdout) const;

  private:
    // "Ti", "Gi", "Mi", "Ki" (first occurrence of each) become "TB", "GB", "MB", "KB".
    std::string unitWording(const std::string& value) const;
    // The size in front of the parenthesised byte and block counts.
    Text reportedSize(const Text& value) const;

    bool isPrimaryDisk_ = false;
    Text primaryDiskID_;
    Text primaryDiskSize_;
    Text primaryDiskPartitionType_;
    Text volumeDiskID_;
    Text volumePartitionType_;
    Text volumeFileSystem_;
    Text volumeName_;
    Text volumePartitionSize_;
    Text volumePartitionFreeSpace_;
    Text SMARTStatus_;
    Text isInternal_;
    Text interfaceType_;
    Text mediaType_;
    Text isBootable_;
    Text isEjectable_;
    Text UUID_;
    StringProcessor str_;
};

} // namespace tolvarin
