#include "unitprobe/MediaStructure.h"

#include <utility>

namespace tolvarin {

std::string MediaStructure::unitWording(const std::string& value) const {
    static const std::pair<const char*, const char*> units[] = {
        {"Ti", "TB"}, {"Gi", "GB"}, {"Mi", "MB"}, {"Ki", "KB"}};
    std::string result = value;
    for (const auto& [binary, shown] : units) {
        result = str_.replaceSubstringIn(result, binary, shown);
    }
    return result;
}

MediaStructure::Text MediaStructure::reportedSize(const Text& value) const {
    if (!value) {
        return value;
    }
    std::string size = *value;
    auto paren = size.find('(');
    if (paren != std::string::npos) {
        // The blank in front of the counts stays, as the records always had it.
        size.erase(paren);
    }
    return unitWording(size);
}

void MediaStructure::setPrimaryDiskSize(const Text& value) {
    if (!value) {
        primaryDiskSize_ = value;
        return;
    }
    std::string size = *value;
    // The listing marks the whole-disk size with a leading asterisk.
    if (size.starts_with("*")) {
        size = str_.trim(str_.replaceSubstringIn(size, "*", " "));
    }
    primaryDiskSize_ = unitWording(size);
}

void MediaStructure::setPrimaryDiskPartitionType(const Text& value) {
    static const std::pair<const char*, const char*> schemes[] = {
        {"Apple_partition_scheme", "Apple Partition Scheme"},
        {"GUID_partition_scheme", "GUID Partition Scheme"},
        {"Apple_HFS", "Apple HFS"},
        {"Apple_HFSX", "Apple HFSX"},
        {"CD_partition_scheme", "CD Partition Scheme"},
    };
    primaryDiskPartitionType_ = value;
    if (!value) {
        return;
    }
    for (const auto& [raw, shown] : schemes) {
        if (*value == raw) {
            primaryDiskPartitionType_ = shown;
            return;
        }
    }
}

void MediaStructure::setVolumePartitionType(const Text& value) {
    if (!value) {
        volumePartitionType_ = value;
        return;
    }
    const std::string& type = *value;
    if (type == "Apple_HFS") {
        volumePartitionType_ = "Apple HFS Volume";
    } else if (type == "Apple_HFSX") {
        volumePartitionType_ = "Apple HFSX Volume";
    } else if (type == "Apple_CoreStorage") {
        volumePartitionType_ = "Apple Core Storage";
    } else if (type.starts_with("Microsoft")) {
        volumePartitionType_ = "Microsoft Windows/DOS Volume";
    } else if (type.starts_with("Apple_Boot")) {
        volumePartitionType_ = "Boot or Recovery Volume";
    } else if (type == "Linux_Filesystem") {
        volumePartitionType_ = "Linux Volume";
    } else if (type == "Linux_LUKS") {
        volumePartitionType_ = "Encrypted Volume (LUKS)";
    } else if (type == "Linux_LVM") {
        volumePartitionType_ = "LVM Physical Volume";
    } else if (type == "Linux_Swap") {
        volumePartitionType_ = "Linux Swap";
    } else if (type == "No_File_System") {
        volumePartitionType_ = "No File System";
    } else if (type == "N/A") {
        volumePartitionType_ = "N/A";
    } else {
        volumePartitionType_ = "Unidentified Volume Format";
    }
}

void MediaStructure::setVolumePartitionSize(const Text& value) {
    volumePartitionSize_ = reportedSize(value);
}

void MediaStructure::setVolumePartitionFreeSpace(const Text& value) {
    volumePartitionFreeSpace_ = reportedSize(value);
}

void MediaStructure::setInterfaceType(const Text& value) {
    static const std::pair<const char*, const char*> protocols[] = {
        {"ATA", "Parallel ATA Hard Drive"},      {"SATA", "Serial ATA Hard Drive"},
        {"ATAPI", "ATAPI Optical Drive"},        {"USB", "USB External Media"},
        {"FireWire", "Firewire External Media"},
    };
    if (!value) {
        interfaceType_ = value;
        return;
    }
    for (const auto& [raw, shown] : protocols) {
        if (*value == raw) {
            interfaceType_ = shown;
            return;
        }
    }
    interfaceType_ = "Unidentified Media";
}

void MediaStructure::showContents(std::FILE* out) const {
    auto field = [&](const char* format, const Text& value) {
        auto text = value ? str_.nsStringToC(*value) : str_.nsStringToC("(null)");
        std::fprintf(out, format, text.get());
    };
    std::fprintf(out, "PRIMARY DISK DATA:\n");
    std::fprintf(out, " isPrimaryDisk = %d\n", isPrimaryDisk_ ? 1 : 0);
    field(" primaryDiskID = %s\n", primaryDiskID_);
    field(" primaryDiskSize = %s\n", primaryDiskSize_);
    field(" primaryDiskPartitionType = %s\n", primaryDiskPartitionType_);
    std::fprintf(out, "\nVOLUME/PARTITION INFORMATION (IF APPLICABLE):\n");
    field(" volumeDiskID = %s\n", volumeDiskID_);
    field(" volumePartitionType = %s\n", volumePartitionType_);
    field(" volumeFileSystem = %s\n", volumeFileSystem_);
    field(" volumeName = %s\n", volumeName_);
    field(" volumePartitionSize = %s\n", volumePartitionSize_);
    field(" volumePartitionFreeSpace = %s\n", volumePartitionFreeSpace_);
    std::fprintf(out, "\nGENERAL INFORMATION ABOUT THIS DEVICE:\n");
    field(" SMARTStatus = %s\n", SMARTStatus_);
    field(" UUID = %s\n", UUID_);
    field(" isInternal = %s\n", isInternal_);
    field(" interfaceType = %s\n", interfaceType_);
    field(" mediaType = %s\n", mediaType_);
    field(" isBootable = %s\n", isBootable_);
    field(" isEjectable = %s\n", isEjectable_);
    std::fprintf(out, "\n\n");
}

} // namespace tolvarin
