#pragma once

#include <optional>
#include <string>

namespace tolvarin {

// The application's copy of one media record: a whole disk or one volume.
// Some setters store a default when the value is absent, so that a record
// copied from an incomplete report still reads sensibly.
class Media {
  public:
    using Text = std::optional<std::string>;

    bool isPrimaryDisk() const { return isPrimaryDisk_; }
    const std::string& primaryDiskID() const { return primaryDiskID_; }
    const std::string& primaryDiskSize() const { return primaryDiskSize_; }
    const std::string& primaryDiskPartitionType() const { return primaryDiskPartitionType_; }
    const std::string& volumeDiskID() const { return volumeDiskID_; }
    const std::string& volumePartitionType() const { return volumePartitionType_; }
    const std::string& volumeFileSystem() const { return volumeFileSystem_; }
    const std::string& volumeName() const { return volumeName_; }
    const std::string& volumePartitionSize() const { return volumePartitionSize_; }
    const std::string& volumePartitionFreeSpace() const { return volumePartitionFreeSpace_; }
    const std::string& SMARTStatus() const { return SMARTStatus_; }
    const std::string& isInternal() const { return isInternal_; }
    const std::string& interfaceType() const { return interfaceType_; }
    const std::string& mediaType() const { return mediaType_; }
    const std::string& isBootable() const { return isBootable_; }
    const std::string& isEjectable() const { return isEjectable_; }
    const std::string& UUID() const { return UUID_; }

    void setIsPrimaryDisk(bool value) { isPrimaryDisk_ = value; }
    // A value is required for these; an absent one is stored as empty.
    void setPrimaryDiskID(const Text& v) { primaryDiskID_ = v.value_or(""); }
    void setPrimaryDiskSize(const Text& v) { primaryDiskSize_ = v.value_or(""); }
    void setPrimaryDiskPartitionType(const Text& v) { primaryDiskPartitionType_ = v.value_or(""); }
    void setVolumeDiskID(const Text& v) { volumeDiskID_ = v.value_or(""); }
    void setSMARTStatus(const Text& v) { SMARTStatus_ = v.value_or(""); }
    void setUUID(const Text& v) { UUID_ = v.value_or(""); }
    // "Generic" when absent.
    void setVolumePartitionType(const Text& v) { volumePartitionType_ = v.value_or("Generic"); }
    void setVolumeFileSystem(const Text& v) { volumeFileSystem_ = v.value_or("Generic"); }
    void setVolumeName(const Text& v) { volumeName_ = v.value_or("Generic"); }
    void setMediaType(const Text& v) { mediaType_ = v.value_or("Generic"); }
    // "Unavailable" when absent.
    void setVolumePartitionSize(const Text& v) { volumePartitionSize_ = v.value_or("Unavailable"); }
    void setVolumePartitionFreeSpace(const Text& v) {
        volumePartitionFreeSpace_ = v.value_or("Unavailable");
    }
    void setIsInternal(const Text& v) { isInternal_ = v.value_or("Unavailable"); }
    void setInterfaceType(const Text& v) { interfaceType_ = v.value_or("Unavailable"); }
    void setIsBootable(const Text& v) { isBootable_ = v.value_or("Unavailable"); }
    void setIsEjectable(const Text& v) { isEjectable_ = v.value_or("Unavailable"); }

  private:
    bool isPrimaryDisk_ = false;
    std::string primaryDiskID_;
    std::string primaryDiskSize_;
    std::string primaryDiskPartitionType_;
    std::string volumeDiskID_;
    std::string volumePartitionType_;
    std::string volumeFileSystem_;
    std::string volumeName_;
    std::string volumePartitionSize_;
    std::string volumePartitionFreeSpace_;
    std::string SMARTStatus_;
    std::string isInternal_;
    std::string interfaceType_;
    std::string mediaType_;
    std::string isBootable_;
    std::string isEjectable_;
    std::string UUID_;
};

} // namespace tolvarin
