#include "store/DriveProcessor.h"

#include "base/Utils.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/Quarrykit.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace tolvarin {

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

DriveProcessor::DriveProcessor(const std::vector<Media>& driveData, const std::string& userID,
                               const std::string& homeDir, Quarrykit& quarrykit, const Clock& clock)
    : driveData_(driveData), userID_(userID), homeDir_(homeDir), quarrykit_(&quarrykit),
      clock_(&clock) {
    setTimeStamp();
    std::printf("START TIME: %s\n", timeStamp_.c_str());
    std::fflush(stdout);
    if (homeDir_.empty()) {
        homeDir_ = Paths::homeDirectory();
    }
    tolvarinDir_ = homeDir_ + kDataDirectoryTail;
    if (!verifyTolvarinDirectory(tolvarinDir_)) {
        Utils::printErrMessage("Could not access Tolvarin storage directory.");
        endFatally();
        return;
    }
    extractPrimaryDriveInfo(driveData_);
    extractVolumeInfo(driveData_);
    createDriveList();
    catalogueReady_ = true;
    obtainValidDataFiles();
    if (catalogueReady_) {
        setFileDateString();
    }
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

std::vector<std::string> DriveProcessor::targetDriveInfoFor(const Media& unit,
                                                            const std::vector<Media>& media) {
    auto identityPart = [](const std::string& descriptor) {
        std::size_t at = descriptor.find("UUID:");
        return at == std::string::npos ? descriptor : descriptor.substr(at);
    };
    auto firstWord = [](const std::string& text) { return text.substr(0, text.find(' ')); };
    std::vector<std::string> info;
    if (!unit.isPrimaryDisk()) {
        info.push_back("volume:" + firstWord(unit.volumePartitionSize()));
        info.push_back(identityPart(volumeDescriptor(unit)));
        return info;
    }
    info.push_back("disk:" + firstWord(unit.primaryDiskSize()));
    for (const Media& m : media) {
        if (!m.isPrimaryDisk() && m.primaryDiskID() == unit.primaryDiskID()) {
            info.push_back(identityPart(volumeDescriptor(m)));
        }
    }
    if (info.size() == 1) {
        info.push_back(identityPart(diskIdentityLine(unit)));
    }
    return info;
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

// --- catalogue ---------------------------------------------------------------

namespace {

const char* const kWarningLines =
    "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****\n\n";

// text begins with word, and word ends there or at a blank: "UUID:S1" must not
// take the header of a disk whose serial number is S12.
bool beginsWithWord(const std::string& text, const std::string& word) {
    return text.compare(0, word.size(), word) == 0 &&
           (text.size() == word.size() || text[word.size()] == ' ');
}

std::string knownInterfaceCode(const std::string& code) {
    for (const char* known : {"ATA", "SAT", "USB", "FIR", "UND"}) {
        if (code == known) {
            return code;
        }
    }
    return "UND";
}

} // namespace

void DriveProcessor::endFatally() {
    catalogueReady_ = false;
    exitStatus_ = kFatalExitStatus;
}

bool DriveProcessor::verifyTolvarinDirectory(const std::string& path) {
    if (quarrykit_ == nullptr || path.empty()) {
        return false;
    }
    if (!quarrykit_->isDirectory(path) && !quarrykit_->makeDirectoryAtPath(path)) {
        return false;
    }
    // A directory the process cannot create files in fails later, half way
    // through a test; say so now.
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        System::consoleLog("Data directory " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

void DriveProcessor::setTimeStamp() {
    // "2026-12-06 18:35:54 +0100" -> "12-06-2026 18:35:54"
    std::string description = Utils::createDateDescription(*clock_);
    auto firstDash = description.find('-');
    auto secondDash =
        firstDash == std::string::npos ? std::string::npos : description.find('-', firstDash + 1);
    if (secondDash == std::string::npos) {
        timeStamp_ = description;
        return;
    }
    std::string year = description.substr(0, firstDash);
    std::string month = description.substr(firstDash + 1, secondDash - firstDash - 1);
    std::vector<std::string> rest = splitAtBlanks(description.substr(secondDash + 1));
    std::string day = rest[0];
    std::string time = rest.size() > 1 ? rest[1] : "";
    timeStamp_ = month + "-" + day + "-" + year + " " + time;
}

void DriveProcessor::setFileDateString() {
    fileDateString_ = Utils::createTimeStamp(*clock_);
}

std::string DriveProcessor::headerLineFor(const std::string& identityLine) {
    auto at = identityLine.find("UUID:");
    return at == std::string::npos ? std::string() : identityLine.substr(at);
}

bool DriveProcessor::isHeaderName(const std::string& name) {
    static const std::string suffix = ".hdr";
    if (name.size() <= suffix.size() || name.front() != 'M' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    return std::count(name.begin(), name.end(), '-') == 8;
}

int DriveProcessor::unitNumberOfHeaderName(const std::string& name) {
    int number = 0;
    for (size_t i = 1; i < 3 && i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            break;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::vector<std::string> DriveProcessor::readHeaderLines(const std::string& path) {
    std::vector<std::string> lines;
    UniqueFd fd = SafeFile::openForRead(path);
    if (!fd) {
        return lines;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return lines;
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(n));
        if (content.size() > kMaximumHeaderBytes) {
            System::consoleLog("Not a drive header (too large): " + path);
            return lines;
        }
    }
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        size_t stop = end == std::string::npos ? content.size() : end;
        // Long lines come in pieces, as a fixed line buffer reads them.
        size_t piece = start;
        do {
            size_t length = std::min(kHeaderLineLength, stop - piece);
            lines.push_back(content.substr(piece, length));
            piece += length;
        } while (piece < stop);
        start = stop + 1;
    }
    return lines;
}

bool DriveProcessor::headerMatchesEntry(const std::vector<std::string>& headerLines,
                                        const DriveEntry& entry) {
    if (entry.empty() || entry[0].empty()) {
        return false;
    }
    auto anyLineBeginsWith = [&](const std::string& word) {
        return std::any_of(headerLines.begin(), headerLines.end(),
                           [&](const std::string& line) { return beginsWithWord(line, word); });
    };
    if (!anyLineBeginsWith(entry[0])) {
        return false;
    }
    for (size_t i = 1; i < entry.size(); ++i) {
        std::vector<std::string> fields = splitAtBlanks(entry[i]);
        // An empty or missing field would match every header.
        if (fields.size() < 4 || !fields[3].starts_with("UUID:") || !anyLineBeginsWith(fields[3])) {
            return false;
        }
    }
    return true;
}

void DriveProcessor::obtainValidDataFiles() {
    validDataFiles_.clear();
    currentDataFiles_.clear();
    dataFilesDoNotExist_.clear();
    if (quarrykit_ == nullptr) {
        return;
    }
    Quarrykit& kit = *quarrykit_;
    // Half-written replacements of a process that was killed are scratch too.
    SafeFile::removeStaleTemporaries(tolvarinDir_);
    kit.setDirContents(tolvarinDir_);

    struct Header {
        std::string name;
        size_t uuidLines;
        std::vector<std::string> lines;
    };
    std::vector<Header> valid;
    for (const std::string& name : kit.dirContents()) {
        std::string suffix = kit.extractFileSuffix(name);
        if (suffix == ".tmp" || suffix == ".cur") {
            kit.deleteFile(tolvarinDir_ + "/" + name);
            continue;
        }
        if (suffix != ".hdr" || !isHeaderName(name)) {
            continue;
        }
        std::vector<std::string> lines = readHeaderLines(tolvarinDir_ + "/" + name);
        size_t count = static_cast<size_t>(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.starts_with("UUID:"); }));
        if (count > 0) {
            validDataFiles_.push_back(name + ":" + std::to_string(count));
            valid.push_back({name, count, std::move(lines)});
        }
    }

    lastMediaCount_ = 0;
    for (const Header& header : valid) {
        lastMediaCount_ = std::max(lastMediaCount_, unitNumberOfHeaderName(header.name));
    }

    for (const DriveEntry& entry : driveList_) {
        size_t volumeLines = entry.empty() ? 0 : entry.size() - 1;
        auto match = std::find_if(valid.begin(), valid.end(), [&](const Header& header) {
            return header.uuidLines == volumeLines && headerMatchesEntry(header.lines, entry);
        });
        if (match != valid.end()) {
            currentDataFiles_.push_back(std::make_shared<CurrentDriveInfo>(
                CurrentDriveInfo::forDriveEntry(entry, tolvarinDir_ + "/" + match->name)));
        } else {
            dataFilesDoNotExist_.push_back(entry);
        }
    }

    for (const DriveEntry& entry : dataFilesDoNotExist_) {
        createNewDataFile(entry);
        if (!catalogueReady_) {
            return;
        }
    }
}

bool DriveProcessor::createNewDataFile(const DriveEntry& driveEntry) {
    if (quarrykit_ == nullptr || driveEntry.empty()) {
        return false;
    }
    // A header is only worth writing when a later test can find it again:
    // it needs line 0 and at least one "UUID:" line, and one line each.
    bool recognisable = driveEntry.size() > 1 && (driveEntry[0].starts_with("disk:") ||
                                                  driveEntry[0].starts_with("volume:"));
    for (const std::string& line : driveEntry) {
        recognisable = recognisable && line.find_first_of("\n\r") == std::string::npos;
    }
    for (size_t i = 1; recognisable && i < driveEntry.size(); ++i) {
        recognisable = !headerLineFor(driveEntry[i]).empty();
    }
    if (!recognisable) {
        System::consoleLog("No data file for a drive without identity lines: " + driveEntry[0]);
        return false;
    }

    int unit = lastMediaCount_ + 1;
    lastMediaCount_ = unit;
    if (unit > kMaximumUnits) {
        std::fputs("Tolvarin is limited to 99 devices maximum.\n"
                   "This maximum has been exceeded. Please refer to the documentation\n"
                   "for instructions to clear up this problem.\n\n",
                   stderr);
        std::fflush(stderr);
        endFatally();
        return false;
    }

    std::string unitText = (unit <= 9 ? "M0" : "M") + std::to_string(unit) + "-";
    std::string type = driveEntry[0].starts_with("disk:") ? "D-" : "V-";
    std::vector<std::string> fields = splitAtBlanks(driveEntry[1]);
    // The code becomes part of a file name: only the known codes go there.
    std::string interface = knownInterfaceCode(fieldValue(fields, 2)) + "-";
    setFileDateString();
    std::string bareName = unitText + type + interface + fileDateString_ + ".hdr";
    std::string path = tolvarinDir_ + "/" + bareName;

    std::string content = kWarningLines + driveEntry[0] + "\n";
    for (size_t i = 1; i < driveEntry.size(); ++i) {
        content += headerLineFor(driveEntry[i]) + "\n";
    }
    content += "\nEND OF FILE " + bareName + "\n";

    // A new header never replaces anything: whatever lies at its name stays.
    std::string error;
    UniqueFd fd = SafeFile::createExclusive(path, &error);
    if (!fd) {
        System::consoleLog("Drive header not written: " + error);
        return false;
    }
    bool written = SafeFile::writeAll(fd.get(), content, &error);
    if (written && ::fsync(fd.get()) != 0) {
        error = std::strerror(errno);
        written = false;
    }
    fd.reset();
    if (!written) {
        // A partial header could later pass for a unit with fewer volumes.
        quarrykit_->deleteFile(path);
        System::consoleLog("Drive header not written: " + path + ": " + error);
        return false;
    }
    currentDataFiles_.push_back(
        std::make_shared<CurrentDriveInfo>(CurrentDriveInfo::forDriveEntry(driveEntry, path)));
    return true;
}

} // namespace tolvarin
