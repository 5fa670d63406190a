#include "store/DataFileSet.h"

#include "platform/System.h"
#include "store/Quarrykit.h"

#include <utility>

namespace tolvarin {

DataFileSet::DataFileSet(std::string tolvarinDir, std::string filePrefix)
    : tolvarinDir_(std::move(tolvarinDir)), filePrefix_(std::move(filePrefix)) {}

bool DataFileSet::isUsablePrefix(const std::string& filePrefix) {
    return !filePrefix.empty() && filePrefix.find_first_of("/.") == std::string::npos;
}

std::string DataFileSet::pathFor(const std::string& suffix) const {
    return tolvarinDir_ + "/" + filePrefix_ + suffix;
}

int DataFileSet::stateBitForSuffix(const std::string& suffix) {
    static const std::pair<const char*, int> bits[] = {
        {".hdr", hdr}, {".siz", siz}, {".ssx", ssx}, {".skx", skx}, {".iss", iss},
        {".ssa", ssa}, {".isk", isk}, {".ska", ska}, {".css", css}, {".pss", pss},
        {".csk", csk}, {".psk", psk}, {".sst", sst}, {".skt", skt},
    };
    for (const auto& [name, bit] : bits) {
        if (suffix == name) {
            return bit;
        }
    }
    return 0;
}

int DataFileSet::deviceState(Quarrykit& quarrykit) const {
    if (!usable()) {
        return 0;
    }
    int state = 0;
    quarrykit.setDirContents(tolvarinDir_);
    for (const std::string& name : quarrykit.dirContents()) {
        // Only prefix + suffix counts: another unit whose prefix merely
        // starts like this one (a longer date field) is not this unit. A
        // folder or a link at a file's name is no file of it.
        if (holdsName(name) && quarrykit.isFile(tolvarinDir_ + "/" + name)) {
            state |= stateBitForSuffix(name.substr(filePrefix_.size()));
        }
    }
    return state;
}

bool DataFileSet::holdsName(const std::string& name) const {
    return usable() && name.size() > filePrefix_.size() &&
           name.compare(0, filePrefix_.size(), filePrefix_) == 0 && name[filePrefix_.size()] == '.';
}

int DataFileSet::deleteUnitFiles(Quarrykit& quarrykit) const {
    if (!usable()) {
        // An empty prefix would name every file of every unit.
        System::consoleLog("Unit files not deleted: unusable file prefix \"" + filePrefix_ + "\"");
        return 0;
    }
    quarrykit.setDirContents(tolvarinDir_);
    int deleted = 0;
    for (const std::string& name : quarrykit.dirContents()) {
        if (holdsName(name) && quarrykit.deleteFile(tolvarinDir_ + "/" + name)) {
            ++deleted;
        }
    }
    return deleted;
}

void DataFileSet::deleteInitialScanFiles(Quarrykit& quarrykit) const {
    if (!usable()) {
        System::consoleLog("Baselines not deleted: unusable file prefix \"" + filePrefix_ + "\"");
        return;
    }
    quarrykit.deleteFile(issFile());
    quarrykit.deleteFile(iskFile());
}

} // namespace tolvarin
