#include "store/CurrentDriveInfo.h"

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
