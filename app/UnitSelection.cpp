#include "app/UnitSelection.h"

#include "base/Utils.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "store/DriveProcessor.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tolvarin {

void UnitSelection::setCurrentMediaArray(std::vector<Media> media) {
    std::lock_guard<std::mutex> lock(mutex_);
    currentMediaArray_ = std::move(media);
}

std::vector<Media> UnitSelection::currentMediaArray() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentMediaArray_;
}

std::string UnitSelection::rowTitleFor(const Media& media) {
    if (media.isPrimaryDisk()) {
        return "Primary Drive " + media.primaryDiskID();
    }
    return media.volumeName();
}

std::optional<int64_t> UnitSelection::sizeFromText(const std::string& sizeText) {
    std::size_t blank = sizeText.find(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    std::string unit = sizeText.substr(blank + 1);
    // PB is beyond what the size texts once reached; without it a unit of
    // that size would keep the size of whatever was selected before.
    static const std::pair<const char*, double> multipliers[] = {
        {"KB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12}, {"PB", 1e15}};
    for (const auto& [name, factor] : multipliers) {
        if (unit.starts_with(name)) {
            std::string number =
                Utils::deleteSubstringFromString(sizeText, std::string(" ") + name);
            char* end = nullptr;
            errno = 0;
            double value = std::strtod(number.c_str(), &end);
            if (end == number.c_str() || errno != 0 || !std::isfinite(value) || value < 0 ||
                value * factor >= 9.2e18) {
                return std::nullopt;
            }
            return static_cast<int64_t>(value * factor);
        }
    }
    return std::nullopt;
}

void UnitSelection::setTargetSize(const std::string& sizeText) {
    if (std::optional<int64_t> size = sizeFromText(sizeText)) {
        targetSize_.store(*size);
    } else {
        System::consoleLog("Size text not understood, target size kept: \"" + sizeText + "\"");
    }
}

UnitSelection::Captions UnitSelection::select(const Media& media) {
    std::string identifier = media.isPrimaryDisk() ? media.primaryDiskID() : media.volumeDiskID();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        selectedItem_ = rowTitleFor(media);
        rawTargetDevice_ = Paths::rawDevicePathForIdentifier(identifier);
        targetDriveInfo_ = DriveProcessor::targetDriveInfoFor(media, currentMediaArray_);
        data_ = media;
    }
    // A size text that cannot be read must not leave the previous unit's
    // size behind: the limited range is checked against it.
    targetSize_.store(0);
    setTargetSize(media.isPrimaryDisk() ? media.primaryDiskSize() : media.volumePartitionSize());
    if (media.isPrimaryDisk()) {
        return {{"Primary Disk ID:", media.primaryDiskID()},
                {"Primary Disk Size:", media.primaryDiskSize()},
                {"Partition Scheme:", media.primaryDiskPartitionType()},
                {"Interface Type:", media.interfaceType()},
                {"Internally Connected:", media.isInternal()},
                {"SMART Status:", media.SMARTStatus()}};
    }
    return {{"Volume Name:", media.volumeName()},
            {"Volume Size:", media.volumePartitionSize()},
            {"Volume Free Space:", media.volumePartitionFreeSpace()},
            {"Volume Identifier:", media.volumeDiskID()},
            {"Volume Type:", media.volumePartitionType()},
            {"SMART Status:", media.SMARTStatus()}};
}

std::string UnitSelection::rawTargetDevice() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rawTargetDevice_;
}

std::vector<std::string> UnitSelection::targetDriveInfo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targetDriveInfo_;
}

std::string UnitSelection::selectedItem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return selectedItem_;
}

Media UnitSelection::data() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

std::string UnitSelection::fileNamePrefix() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fileNamePrefix_;
}

void UnitSelection::setFileNamePrefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileNamePrefix_ = prefix;
}

} // namespace tolvarin
