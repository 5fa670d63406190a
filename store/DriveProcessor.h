#pragma once

#include "app/Media.h"

#include <map>
#include <string>
#include <vector>

// Turns the application's media list into one-line descriptors (one per disk,
// one per volume) and groups them into drive entries: the identity of each
// unit that the data store compares with its stored drive headers. The
// descriptor texts are a stored format.
//
// This is the drive-list half of the class; the matching against the data
// directory joins it later.
class DriveProcessor {
  public:
    DriveProcessor() = default;
    // Builds the drive list from driveData (extractPrimaryDriveInfo,
    // extractVolumeInfo, createDriveList).
    DriveProcessor(const std::vector<Media>& driveData, const std::string& userID,
                   const std::string& homeDir);

    // One disk descriptor per whole disk, in list order.
    void extractPrimaryDriveInfo(const std::vector<Media>& media);
    // One volume descriptor per volume, in list order.
    void extractVolumeInfo(const std::vector<Media>& media);
    // One entry per disk ("disk:SIZE" and the descriptors of its volumes, or
    // the disk's own identity line when it has none), then one entry per
    // volume ("volume:SIZE" and its descriptor).
    void createDriveList();

    // DISK:id DES:D IFC:code SIZE:size
    static std::string diskDescriptor(const Media& disk);
    // DISK:id DES:V IFC:code UUID:uuid PART:part SIZE:size
    static std::string volumeDescriptor(const Media& volume);
    // The identity line of a disk without volumes, built like a volume
    // descriptor from the disk itself:
    // DISK:id DES:D IFC:code UUID:uuid PART: SIZE:size
    static std::string diskIdentityLine(const Media& disk);
    // ATA, SAT, USB, FIR or UND for the shown interface text.
    static std::string interfaceCode(const std::string& interfaceType);
    // Every field of a record on standard output, one item per line.
    static void printMediaStructure(const Media& media);
    static void dumpCurrentMediaArray(const std::vector<Media>& media);
    void showUserData() const;

    const std::vector<Media>& driveData() const { return driveData_; }
    const std::string& userID() const { return userID_; }
    const std::string& homeDir() const { return homeDir_; }
    void setHomeDir(const std::string& value) { homeDir_ = value; }
    const std::vector<std::string>& primaryDrives() const { return primaryDrives_; }
    void setPrimaryDrives(const std::vector<std::string>& value) { primaryDrives_ = value; }
    const std::vector<std::string>& volumes() const { return volumes_; }
    void setVolumes(const std::vector<std::string>& value) { volumes_ = value; }
    const std::vector<std::vector<std::string>>& driveList() const { return driveList_; }
    void setDriveList(const std::vector<std::vector<std::string>>& value) { driveList_ = value; }

  private:
    std::vector<Media> driveData_;
    std::string userID_;
    std::string homeDir_;
    std::vector<std::string> primaryDrives_;
    std::vector<std::string> volumes_;
    std::vector<std::vector<std::string>> driveList_;
    std::vector<std::string> driveEntry_;
    // Identity lines of the disks, by disk identifier, for disks that turn
    // out to have no volume.
    std::map<std::string, std::string> diskIdentities_;
};
