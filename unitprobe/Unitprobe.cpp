#include "unitprobe/Unitprobe.h"

#include "platform/Paths.h"
#include "platform/System.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tolvarin {

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Byte offsets at which the characters of a UTF-8 line begin. A stray
// continuation byte stays with the character before it; nothing is dropped.
std::vector<size_t> characterStarts(const std::string& line) {
    std::vector<size_t> starts;
    starts.reserve(line.size());
    for (size_t b = 0; b < line.size(); ++b) {
        auto byte = static_cast<unsigned char>(line[b]);
        if (b == 0 || (byte & 0xC0) != 0x80) {
            starts.push_back(b);
        }
    }
    return starts;
}

// What Linux disks hold besides file systems: encrypted containers, LVM
// members and swap are volumes a user may want to test too.
bool isLinuxContentType(const std::string& type) {
    return type == "Linux_Filesystem" || type == "Linux_LUKS" || type == "Linux_LVM" ||
           type == "Linux_Swap";
}

// The types that make row 0 a volume of its own (the whole disk is formatted).
bool isWholeDiskVolumeType(const std::string& type) {
    return type == "Apple_HFS" || type == "Apple_Boot" || type == "Apple_HFSX" ||
           type.starts_with("Microsoft") || isLinuxContentType(type);
}

// The partition types that yield a volume record. A Linux partition whose
// content nobody recognised is still a volume, one without a file system.
bool isRecognisedVolumeType(const std::string& type) {
    return type == "Apple_HFS" || type == "Apple_Boot" || type == "Apple_HFSX" ||
           type == "Apple_CoreStorage" || type.starts_with("Microsoft") ||
           isLinuxContentType(type) || type == "No_File_System";
}

// The device path of a listing header: the header up to its first blank, so
// that a header carrying a remark after the path still names the device.
std::string headerDevice(const std::string& header) {
    return header.substr(0, header.find_first_of(" \t"));
}

// A line of tool output shown in a message: short, and only printable bytes.
std::string quoted(const std::string& line) {
    std::string shown;
    for (char c : line.substr(0, 60)) {
        auto byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 || byte == 0x7f) ? '?' : c;
    }
    return "\"" + shown + (line.size() > 60 ? "...\"" : "\"");
}

// A device identifier as the tool prints it: a kernel or disk name, printable
// and without blanks or path separators.
bool plausibleIdentifier(const std::string& id) {
    return !id.empty() && id != "." && id != ".." && std::all_of(id.begin(), id.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7f && c != '/';
    });
}

// Whether a row's identifier can be the device its group is about: row 0
// names the header's device, a partition row a partition of it (disk0s2 of
// disk0, sda2 of sda, nvme0n1p2 of nvme0n1). Anything else is a cut or
// garbled line, and a record made from it would describe no device.
bool belongsToDisk(const std::string& identifier, const std::string& disk, bool wholeDisk) {
    if (!plausibleIdentifier(identifier)) {
        return false;
    }
    if (wholeDisk) {
        return identifier == disk;
    }
    return identifier.size() > disk.size() && identifier.starts_with(disk);
}

std::vector<std::string> splitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        auto at = text.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

} // namespace

// --- helpers ------------------------------------------------------------------

std::vector<std::string> Unitprobe::splitLines(const std::string& text) {
    return splitAt(text, "\n");
}

bool Unitprobe::isDeviceHeader(const std::string& line) {
    return line.starts_with("/dev/");
}

std::string Unitprobe::column(const std::string& line, size_t from, size_t to) {
    auto starts = characterStarts(line);
    size_t count = starts.size();
    to = std::min(to, count);
    if (from >= count || to <= from) {
        return "";
    }
    size_t begin = starts[from];
    size_t end = to < count ? starts[to] : line.size();
    return StringProcessor().trim(line.substr(begin, end - begin));
}

std::string Unitprobe::extractString(const std::string& line) {
    auto first = line.find(':');
    if (first == std::string::npos) {
        return "";
    }
    auto second = line.find(':', first + 1);
    std::string value = second == std::string::npos ? line.substr(first + 1)
                                                    : line.substr(first + 1, second - first - 1);
    return StringProcessor().trim(value);
}

bool Unitprobe::testIfOptical(const std::vector<std::string>& report) {
    return std::any_of(report.begin(), report.end(), [](const std::string& line) {
        return line.starts_with("   Drive Type:") || line.starts_with("   Optical Drive Type:");
    });
}

bool Unitprobe::isFATVolume(const std::string& partitionType) {
    std::string upper = partitionType;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const char* word : {"DOS", "FAT", "MSDOS", "FDISK", "MICROSOFT", "WINDOWS", "NTFS"}) {
        if (contains(upper, word)) {
            return true;
        }
    }
    return false;
}

// --- running the disk tool ------------------------------------------------------

std::string Unitprobe::kernelRelease() const {
    return System::kernelRelease();
}

std::string Unitprobe::OSVersion() const {
    std::string name = System::releaseName(kernelRelease());
    // Standard error, so that a terminal listing on standard output stays clean.
    std::fprintf(stderr, "Unitprobe reports OS release as: %s\n", name.c_str());
    return name;
}

std::vector<std::string> Unitprobe::runDiskTool(std::unique_ptr<CmdProcessor>& runner,
                                                const std::vector<std::string>& args) {
    // The adapter's listing runs lsblk (10 s at most); a report runs lsblk
    // and then smartctl (20 s at most), which a slow USB bridge needs. Each
    // limit outlasts the adapter's own, so that its tools are stopped first.
    ProcessLimits limits;
    limits.time =
        !args.empty() && args[0] == "info" ? std::chrono::seconds(45) : std::chrono::seconds(20);
    runner = std::make_unique<CmdProcessor>();
    runner->setLimits(ProcessRunner::limitsWithin(limits));
    runner->setCommand(Paths::diskToolPath());
    runner->setArgs(args);
    runner->processCommand(runner->command(), runner->args());
    return splitLines(runner->returnData());
}

std::vector<std::string> Unitprobe::listMediaToVector() {
    return runDiskTool(generalCP_, {"list"});
}

std::vector<std::string> Unitprobe::listMediaDetailsToVector(const std::string& device) {
    return runDiskTool(detailCP_, {"info", device});
}

// --- enumeration ----------------------------------------------------------------

void Unitprobe::initWithOSString(const std::string& /*osString*/) {
    osString_ = OSVersion();
    hasAppleRAID_ = false;
    mediaStructureArray_.clear();
    raidDetails_.clear();
    diskToolProblem_.clear();
    setColumnLayout();

    // The listing, without the blocks of software-RAID members.
    output_ = listMediaToVector();
    mediaCount_ = 0;
    std::string lastHeader;
    std::vector<std::string> raidMembers;
    for (const std::string& line : output_) {
        if (isDeviceHeader(line)) {
            ++mediaCount_;
            lastHeader = line;
        }
        if (contains(line, "Apple_RAID")) {
            hasAppleRAID_ = true;
            --mediaCount_;
            // A member row before any header belongs to no disk.
            if (!lastHeader.empty()) {
                raidMembers.push_back(lastHeader);
            }
        }
    }
    noteListingProblem(output_);
    std::vector<std::string> listing = output_;
    removeRaidMembers(listing, raidMembers);
    if (!raidMembers.empty() && osString_ == "Leopard") {
        setRaidDetails();
    }

    buildRecords(groupListing(listing));
    if (diskToolProblem_.empty() && mediaStructureArray_.empty()) {
        diskToolProblem_ = "the disk tool " + Paths::diskToolPath() +
                           " listed no usable disk (optical drives and RAID members are left out)";
    }
}

void Unitprobe::noteListingProblem(const std::vector<std::string>& lines) {
    const std::string tool = Paths::diskToolPath();
    if (generalCP_ && !generalCP_->started()) {
        diskToolProblem_ = "the disk tool could not be started: " + generalCP_->error();
        return;
    }
    if (generalCP_ && !generalCP_->error().empty()) {
        diskToolProblem_ = "the disk tool " + generalCP_->error();
        return;
    }
    std::string status;
    if (generalCP_ && generalCP_->exitStatus() != 0) {
        status = " and exited with status " + std::to_string(generalCP_->exitStatus());
    }
    auto firstText = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find_first_not_of(" \t\r") != std::string::npos;
    });
    if (firstText == lines.end()) {
        diskToolProblem_ = "the disk tool " + tool + " printed nothing" + status;
        return;
    }
    if (std::none_of(lines.begin(), lines.end(), isDeviceHeader)) {
        diskToolProblem_ = "the disk tool " + tool + " listed no disk" + status + "; it printed " +
                           quoted(*firstText);
    }
}

void Unitprobe::setColumnLayout() {
    if (osString_ == "Tiger" || osString_ == "Panther") {
        listIndex_ = {0, 5, 28, 48, 58, 80};
    } else {
        listIndex_ = {0, 5, 32, 56, 68, 80};
    }
}

void Unitprobe::removeRaidMembers(std::vector<std::string>& lines,
                                  const std::vector<std::string>& members) const {
    for (const std::string& header : members) {
        auto first = std::find(lines.begin(), lines.end(), header);
        if (first == lines.end()) {
            continue;
        }
        auto next = std::find_if(first + 1, lines.end(), isDeviceHeader);
        lines.erase(first, next);
    }
}

std::vector<std::vector<std::string>>
Unitprobe::groupListing(const std::vector<std::string>& lines) {
    std::vector<std::vector<std::string>> groups;
    for (const std::string& line : lines) {
        if (isDeviceHeader(line)) {
            groups.emplace_back();
        }
        if (line.empty() || groups.empty()) {
            continue;
        }
        groups.back().push_back(line);
    }
    mediaCount_ = static_cast<int>(groups.size()) - 1;
    return groups;
}

void Unitprobe::buildRecords(const std::vector<std::vector<std::string>>& groups) {
    constexpr size_t kColumns = 5;
    for (const auto& group : groups) {
        const std::string device = headerDevice(group[0]);
        const std::string diskName = device.substr(device.find_last_of('/') + 1);
        MediaStructure::Text savedID = "";
        MediaStructure::Text savedSize = "";
        MediaStructure::Text savedMediaType = "";
        MediaStructure::Text savedScheme = "";
        bool wholeDiskVolume = false;

        // A volume record carries its disk's size, scheme and media type.
        auto volumeRecord = [&](const std::string& identifier) {
            MediaStructure volume;
            output_ = listMediaDetailsToVector(identifier);
            setMediaStructureElements(output_, volume);
            volume.setIsPrimaryDisk(false);
            volume.setVolumeDiskID(identifier);
            volume.setPrimaryDiskID(savedID);
            volume.setPrimaryDiskPartitionType(savedScheme);
            volume.setPrimaryDiskSize(savedSize);
            volume.setMediaType(savedMediaType);
            return volume;
        };

        for (size_t j = 1; j < group.size(); ++j) {
            const std::string& line = group[j];
            std::array<std::string, kColumns> columns{};
            if (!line.starts_with("   #:")) {
                listIndex_[5] = characterStarts(line).size();
                for (size_t c = 0; c < kColumns; ++c) {
                    size_t to = c + 1 == kColumns ? listIndex_[5] : listIndex_[c + 1];
                    columns[c] = column(line, listIndex_[c], to);
                }
            }
            const std::string& index = columns[0];
            std::string type = columns[1];
            const std::string& name = columns[2];
            const std::string& size = columns[3];
            const std::string& identifier = columns[4];

            if (index == "0:" || index.starts_with("0: ")) {
                if (!belongsToDisk(identifier, diskName, true)) {
                    System::consoleLog("Unitprobe: skipped the disk " + quoted(group[0]) +
                                       " whose row 0 names " + quoted(identifier));
                    break;
                }
                if (isWholeDiskVolumeType(type)) {
                    wholeDiskVolume = true;
                }
                MediaStructure disk;
                output_ = listMediaDetailsToVector(device);
                if (testIfOptical(output_)) {
                    break;
                }
                disk.setIsPrimaryDisk(true);
                disk.setPrimaryDiskPartitionType(type);
                disk.setPrimaryDiskSize(size);
                disk.setPrimaryDiskID(identifier);
                savedID = identifier;
                setMediaStructureElements(output_, disk);
                savedSize = disk.primaryDiskSize();
                savedMediaType = disk.mediaType();
                savedScheme = disk.primaryDiskPartitionType();
                disk.setVolumeDiskID("N/A");
                disk.setVolumePartitionType("N/A");
                disk.setVolumeFileSystem("N/A");
                disk.setVolumeName("N/A");
                disk.setVolumePartitionSize("N/A");
                disk.setVolumePartitionFreeSpace("N/A");
                mediaStructureArray_.push_back(std::move(disk));

                if (wholeDiskVolume) {
                    MediaStructure volume = volumeRecord(identifier);
                    volume.setVolumeName(name);
                    mediaStructureArray_.push_back(std::move(volume));
                }
            } else if (wholeDiskVolume) {
                // The row after a formatted whole disk describes the same volume.
                wholeDiskVolume = false;
            } else {
                if (isFATVolume(type)) {
                    type = "Microsoft or Generic";
                }
                if (!isRecognisedVolumeType(type)) {
                    continue;
                }
                if (savedID.value_or("").empty() || !belongsToDisk(identifier, diskName, false)) {
                    System::consoleLog("Unitprobe: skipped the volume row " + quoted(line) +
                                       " of " + quoted(group[0]));
                    continue;
                }
                // The name comes from the report here, not from the listing.
                mediaStructureArray_.push_back(volumeRecord(identifier));
            }
        }
    }
}

void Unitprobe::setMediaStructureElements(const std::vector<std::string>& report,
                                          MediaStructure& record) {
    record.setUUID("");
    bool sawSMART = false;
    for (const std::string& line : report) {
        auto value = [&] { return extractString(line); };
        if (line.starts_with("   Protocol:")) {
            record.setInterfaceType(value());
        }
        if (line.starts_with("   Device Identifier:")) {
            record.setPrimaryDiskID(value());
        }
        if (line.starts_with("   Volume Name:")) {
            record.setVolumeName(value());
        }
        if (line.starts_with("   File System:") ||
            line.starts_with("   File System Personality:")) {
            record.setVolumeFileSystem(value());
        }
        if (line.starts_with("   Partition Type:")) {
            record.setVolumePartitionType(value());
            if (record.volumePartitionType() == "Apple Core Storage") {
                record.setVolumeName("Apple Core Storage");
            }
        }
        if (line.starts_with("   Media Type:") || line.starts_with("   Media Type (Bundle):")) {
            record.setMediaType(value());
        }
        if (line.starts_with("   SMART Status:")) {
            record.setSMARTStatus(value());
            sawSMART = true;
        }
        if (line.starts_with("   UUID:") || line.starts_with("   Volume UUID:")) {
            record.setUUID(value());
        }
        if (line.starts_with("   Volume Free Space:") || line.starts_with("   Free Space:")) {
            record.setVolumePartitionFreeSpace(value());
        }
        if (line.starts_with("   Bootable:") || line.starts_with("   OS Can Be Installed:")) {
            std::string bootable = value();
            if (bootable == "Not bootable" || bootable == "No") {
                record.setIsBootable("NO");
            } else if (bootable == "Is bootable" || bootable == "Yes") {
                record.setIsBootable("YES");
            } else {
                record.setIsBootable("---");
            }
        }
        if (line.starts_with("   Total Size:")) {
            record.setVolumePartitionSize(value());
        }
        if (line.starts_with("   Ejectable:")) {
            record.setIsEjectable(value());
        }
        if (line.starts_with("   Internal:")) {
            record.setIsInternal(value());
        }
        if (line.starts_with("   Optical Media Type:")) {
            record.setMediaType(value());
        }
    }
    if (!sawSMART) {
        record.setSMARTStatus("");
    }
    if (osString_ == "Leopard" && hasAppleRAID_ && !raidDetails_.empty()) {
        // A RAID set shows the SMART status, interface and internal flag of
        // its first member. Each fact needs three entries after the node.
        for (size_t q = 0; q + 3 < raidDetails_.size(); ++q) {
            if (record.primaryDiskID() == raidDetails_[q]) {
                record.setSMARTStatus(raidDetails_[q + 1]);
                record.setInterfaceType(raidDetails_[q + 2]);
                record.setIsInternal(raidDetails_[q + 3]);
            }
        }
    }
}

void Unitprobe::setRaidDetails() {
    raidDetails_.clear();
    std::vector<std::string> lines = runDiskTool(generalCP_, {"listRAID"});
    std::string node;
    std::string smart;
    std::string protocol;
    std::string internal;
    for (const std::string& line : lines) {
        if (line.starts_with("Device Node:")) {
            node = extractString(line);
        }
        if (!line.starts_with("0  ")) {
            continue;
        }
        std::vector<std::string> parts = splitAt(line, "  ");
        if (parts.size() < 2) {
            continue;
        }
        std::string member = StringProcessor().trim(parts[1]);
        // disk1s2 -> disk1: the first "s" after "disk" starts the slice.
        std::string wholeDisk = member.substr(0, member.find('s', 3));
        for (const std::string& report : runDiskTool(generalCP_, {"info", wholeDisk})) {
            if (report.starts_with("   Protocol:")) {
                protocol = extractString(report);
                internal = (protocol == "FireWire" || protocol == "USB") ? "No" : "Yes";
            }
            if (report.starts_with("   SMART Status:")) {
                smart = extractString(report);
            }
        }
        raidDetails_.insert(raidDetails_.end(), {node, smart, protocol, internal});
    }
}

const std::vector<MediaStructure>& Unitprobe::mediaStructureArray() const {
    return mediaStructureArray_;
}

void Unitprobe::setMediaStructureArray(const std::vector<MediaStructure>& array) {
    mediaStructureArray_ = array;
}

std::string Unitprobe::diskToolProblem() const {
    return diskToolProblem_;
}

} // namespace tolvarin
