#include "store/DriveProcessor.h"

#include "app/Utils.h"

namespace {

std::vector<std::string> splitAtBlanks(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        auto at = text.find(' ', start);
        if (at == std::string::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

// The text after the first ":" of field index of a descriptor ("" when the
// descriptor is shorter).
std::string fieldValue(const std::vector<std::string>& fields, size_t index) {
    if (index >= fields.size()) {
        return "";
    }
    auto colon = fields[index].find(':');
    return colon == std::string::npos ? "" : fields[index].substr(colon + 1);
}

std::string uuidOrEmpty(const std::string& uuid) {
    return uuid.empty() ? "EMPTY" : uuid;
}

// A disk's own UUID (a WWN or serial number) as one word, so that the
// descriptor still splits into its fields at blanks.
std::string identityWord(const std::string& uuid) {
    std::string word;
    for (char c : uuid) {
        bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (blank) {
            if (!word.empty() && word.back() != '_') {
                word += '_';
            }
        } else {
            word += c;
        }
    }
    while (!word.empty() && word.back() == '_') {
        word.pop_back();
    }
    return uuidOrEmpty(word);
}

} // namespace

DriveProcessor::DriveProcessor(const std::vector<Media>& driveData, const std::string& userID,
                               const std::string& homeDir)
    : driveData_(driveData), userID_(userID), homeDir_(homeDir) {
    extractPrimaryDriveInfo(driveData_);
    extractVolumeInfo(driveData_);
    createDriveList();
}

std::string DriveProcessor::interfaceCode(const std::string& interfaceType) {
    if (interfaceType == "Parallel ATA Hard Drive") {
        return "ATA";
    }
    if (interfaceType == "Serial ATA Hard Drive") {
        return "SAT";
    }
    if (interfaceType == "USB External Media") {
        return "USB";
    }
    if (interfaceType == "Firewire External Media") {
        return "FIR";
    }
    return "UND";
}

std::string DriveProcessor::diskDescriptor(const Media& disk) {
    return "DISK:" + disk.primaryDiskID() + " DES:D IFC:" + interfaceCode(disk.interfaceType()) +
           " SIZE:" + disk.primaryDiskSize();
}

std::string DriveProcessor::volumeDescriptor(const Media& volume) {
    return "DISK:" + volume.primaryDiskID() +
           " DES:V IFC:" + interfaceCode(volume.interfaceType()) +
           " UUID:" + uuidOrEmpty(volume.UUID()) +
           " PART:" + Utils::modifyString(volume.volumeDiskID(), volume.primaryDiskID(), "") +
           " SIZE:" + volume.volumePartitionSize();
}

std::string DriveProcessor::diskIdentityLine(const Media& disk) {
    return "DISK:" + disk.primaryDiskID() + " DES:D IFC:" + interfaceCode(disk.interfaceType()) +
           " UUID:" + identityWord(disk.UUID()) + " PART: SIZE:" + disk.primaryDiskSize();
}

void DriveProcessor::extractPrimaryDriveInfo(const std::vector<Media>& media) {
    for (const Media& m : media) {
        if (m.isPrimaryDisk()) {
            primaryDrives_.push_back(diskDescriptor(m));
            diskIdentities_.emplace(m.primaryDiskID(), diskIdentityLine(m));
        }
    }
}

void DriveProcessor::extractVolumeInfo(const std::vector<Media>& media) {
    for (const Media& m : media) {
        if (!m.isPrimaryDisk()) {
            volumes_.push_back(volumeDescriptor(m));
        }
    }
}

void DriveProcessor::createDriveList() {
    for (const std::string& disk : primaryDrives_) {
        std::vector<std::string> fields = splitAtBlanks(disk);
        std::string diskID = fieldValue(fields, 0);
        driveEntry_ = {"disk:" + fieldValue(fields, 3)};
        for (const std::string& volume : volumes_) {
            if (fieldValue(splitAtBlanks(volume), 0) == diskID) {
                driveEntry_.push_back(volume);
            }
        }
        // A disk without volumes (a blank disk, the usual thing to test)
        // would otherwise have nothing that recognises it again.
        if (driveEntry_.size() == 1) {
            auto identity = diskIdentities_.find(diskID);
            if (identity != diskIdentities_.end()) {
                driveEntry_.push_back(identity->second);
            } else {
                // A descriptor set from outside: no UUID is known for it.
                auto size = disk.find(" SIZE:");
                driveEntry_.push_back("DISK:" + diskID + " DES:D IFC:" + fieldValue(fields, 2) +
                                      " UUID:EMPTY PART: SIZE:" +
                                      (size == std::string::npos ? "" : disk.substr(size + 6)));
            }
        }
        driveList_.push_back(driveEntry_);
    }
    for (const std::string& volume : volumes_) {
        driveEntry_ = {"volume:" + fieldValue(splitAtBlanks(volume), 5), volume};
        driveList_.push_back(driveEntry_);
    }
}

void DriveProcessor::printMediaStructure(const Media& media) {
    Utils::print("PRIMARY DISK DATA:\n");
    Utils::print(" isPrimaryDisk = " + std::to_string(media.isPrimaryDisk() ? 1 : 0));
    Utils::print(" primaryDiskID = " + media.primaryDiskID());
    Utils::print(" primaryDiskSize = " + media.primaryDiskSize());
    Utils::print(" primaryDiskPartitionType = " + media.primaryDiskPartitionType());
    Utils::print("\nVOLUME/PARTITION INFORMATION (IF APPLICABLE):\n");
    Utils::print(" volumeDiskID = " + media.volumeDiskID());
    Utils::print(" volumePartitionType = " + media.volumePartitionType());
    Utils::print(" volumeFileSystem = " + media.volumeFileSystem());
    Utils::print(" volumeName = " + media.volumeName());
    Utils::print(" volumePartitionSize = " + media.volumePartitionSize());
    Utils::print(" volumePartitionFreeSpace = " + media.volumePartitionFreeSpace());
    Utils::print("\nGENERAL INFORMATION ABOUT THIS DEVICE:\n");
    Utils::print(" SMARTStatus = " + media.SMARTStatus());
    Utils::print(" UUID = " + media.UUID());
    Utils::print(" isInternal = " + media.isInternal());
    Utils::print(" interfaceType = " + media.interfaceType());
    Utils::print(" mediaType = " + media.mediaType());
    Utils::print(" isBootable = " + media.isBootable());
    Utils::print(" isEjectable = " + media.isEjectable());
    Utils::print("\n\n");
}

void DriveProcessor::dumpCurrentMediaArray(const std::vector<Media>& media) {
    Utils::print("-----BEGIN ARRAY DUMP-----");
    for (const Media& m : media) {
        printMediaStructure(m);
    }
    Utils::print("-----END ARRAY DUMP-----");
}

void DriveProcessor::showUserData() const {
    Utils::printFormatted("User ID: %@", userID_);
    Utils::printFormatted("User Home Directory: %@", homeDir_);
}
