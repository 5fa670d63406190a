#include "app/DriveListLoader.h"

#include "platform/ModuleLoader.h"
#include "platform/System.h"
#include "unitprobe/Unitprobe.h"

#include <memory>
#include <mutex>

namespace tolvarin {

namespace {

using UnitprobeFactory = Unitprobe* (*)();

// Instantiation is serialised, as the application does under its own lock.
std::mutex& instantiationMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

DriveListLoader::DriveListLoader(std::function<void(const std::string&)> onFatal)
    : onFatal_(std::move(onFatal)) {}

Media DriveListLoader::mediaFromRecord(const MediaStructure& record) {
    Media media;
    media.setIsPrimaryDisk(record.isPrimaryDisk());
    media.setPrimaryDiskID(record.primaryDiskID());
    media.setPrimaryDiskSize(record.primaryDiskSize());
    media.setPrimaryDiskPartitionType(record.primaryDiskPartitionType());
    media.setVolumeDiskID(record.volumeDiskID());
    media.setVolumePartitionType(record.volumePartitionType());
    media.setVolumeFileSystem(record.volumeFileSystem());
    media.setVolumeName(record.volumeName());
    media.setVolumePartitionSize(record.volumePartitionSize());
    media.setVolumePartitionFreeSpace(record.volumePartitionFreeSpace());
    media.setSMARTStatus(record.SMARTStatus());
    media.setUUID(record.UUID());
    media.setIsInternal(record.isInternal());
    media.setInterfaceType(record.interfaceType());
    media.setMediaType(record.mediaType());
    media.setIsBootable(record.isBootable());
    media.setIsEjectable(record.isEjectable());
    return media;
}

std::vector<Media> DriveListLoader::mediaFromRecords(const std::vector<MediaStructure>& records) {
    std::vector<Media> media;
    media.reserve(records.size());
    for (const MediaStructure& record : records) {
        media.push_back(mediaFromRecord(record));
    }
    return media;
}

void DriveListLoader::fail(const std::string& logLine, const std::string& reason) {
    System::consoleLog(logLine);
    System::consoleLog("ERROR: One or more bundles could not be loaded. TERMINATING!");
    problem_ = reason;
    if (onFatal_) {
        onFatal_(reason);
    }
}

bool DriveListLoader::enumerate(const std::string& osString, std::vector<Media>& media) {
    std::string error;
    void* factory =
        ModuleLoader::findFactory(ModuleLoader::modulePath("Unitprobe"), "Unitprobe", &error);
    if (factory == nullptr) {
        fail("ERROR: Unitprobe bundle could not be found.",
             "the Unitprobe module could not be loaded: " + error);
        return false;
    }
    std::unique_ptr<Unitprobe> unitprobe;
    {
        std::lock_guard<std::mutex> lock(instantiationMutex());
        unitprobe.reset(reinterpret_cast<UnitprobeFactory>(factory)());
        if (unitprobe) {
            unitprobe->initWithOSString(osString);
        }
    }
    if (!unitprobe) {
        fail("ERROR: Unitprobe Bundle did not load properly.",
             "the Unitprobe module made no Unitprobe object");
        return false;
    }
    media = mediaFromRecords(unitprobe->mediaStructureArray());
    problem_ = media.empty() ? unitprobe->diskToolProblem() : "";
    if (media.empty() && problem_.empty()) {
        problem_ = "the disk tool listed no disk";
    }
    return true;
}

std::vector<Media> DriveListLoader::loadMediaList(const std::string& osString) {
    std::vector<Media> media;
    problem_.clear();
    attempts_ = 0;
    while (attempts_ < kMaxLoadAttempts) {
        if (attempts_ > 0) {
            System::consoleLog("LOAD PROBLEM - Reloading Unitprobe data");
        }
        ++attempts_;
        if (!enumerate(osString, media)) {
            return {};
        }
        if (!media.empty()) {
            return media;
        }
    }
    System::consoleLog("ERROR: no disks found after " + std::to_string(attempts_) +
                       " attempts: " + problem_);
    return media;
}

} // namespace tolvarin
