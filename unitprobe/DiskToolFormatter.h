#pragma once

#include "platform/BlockProbe.h"
#include "platform/ProcessRunner.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tolvarin {

// The disk tool on Linux: prints the listing ("list"), the per-device report
// ("info DEVICE") and the software-RAID listing ("listRAID") with the keys and
// fixed columns the media enumeration reads, built from what lsblk and
// smartctl print as JSON. Everything here is a function of those texts, so the
// formatting is tested on recorded output; tolvarin-disktool only runs the
// tools and prints the answer.
namespace DiskToolFormatter {

// The lsblk columns every function here reads.
inline constexpr const char* lsblkColumns =
    "NAME,KNAME,PATH,TYPE,SIZE,TRAN,RM,RO,HOTPLUG,ROTA,FSTYPE,LABEL,UUID,PARTTYPE,PARTTYPENAME,"
    "PTTYPE,MODEL,SERIAL,WWN,MOUNTPOINT,FSAVAIL,PKNAME";

// Parses what `lsblk --json` printed. Answers nullopt (with a reason) when the
// text is not a device listing. Warnings lsblk wrote ahead of the JSON (they
// share the pipe) are passed over.
std::optional<nlohmann::json> parseLsblk(const std::string& text, std::string* error = nullptr);

// Fills in the file system of mounted devices whose lsblk entry has none (lsblk
// learns file systems from udev, which containers often lack), from the text
// of /proc/self/mounts.
void applyMountTable(nlohmann::json& lsblk, const std::string& mountsText);

// What lsblk could not say (no udev database: containers, minimal systems),
// asked of the device itself: for every disk, loop device, partition and
// RAID set that lsblk lists without a file system type or UUID, probe
// ("/dev/NAME") gives the content, label, UUID, partition table type and
// partition type, and what lsblk left empty is filled in. only, when given,
// limits the probing to the device of that kernel name.
using ContentProbe = std::function<std::optional<BlockContent>(const std::string& devicePath)>;
void applyProbes(nlohmann::json& lsblk, const ContentProbe& probe, const std::string& only = "");

// Decimal size with one decimal place as the listing shows it: 500107862016
// gives "500.1 GB"; below 1000 bytes "512 B".
std::string formatSize(uint64_t bytes);

// "Verified" when smartctl saw the health check pass, "Failing" when it saw it
// fail, "Not Supported" for anything else (no answer, no SMART, garbage).
std::string smartStatusWord(const std::optional<nlohmann::json>& smart);

// The listing: one block per disk, loop device, optical drive with a medium
// and RAID set; a "/dev/NAME" header, the column heading, row 0 for the whole
// device, then one row per partition.
std::string formatList(const nlohmann::json& lsblk);

// The report of one device (identifier, /dev/NAME or raw device path), or
// nullopt when lsblk does not know it. smart is what `smartctl --json -H`
// printed for the device's disk.
std::optional<std::string> formatInfo(const nlohmann::json& lsblk, const std::string& device,
                                      const std::optional<nlohmann::json>& smart);

// The whole-disk node smartctl should be asked about for device, or nullopt
// when the device is unknown or cannot answer (loop devices, optical drives,
// RAID sets).
std::optional<std::string> smartDevicePath(const nlohmann::json& lsblk, const std::string& device);

// The software-RAID listing: one block per md set with its member table.
std::string formatListRAID(const nlohmann::json& lsblk);

// Where the tool's facts come from: the real programs in tolvarin-disktool,
// recorded texts in tests. smartHealth, mountTable and probeContent may be
// empty.
struct Sources {
    std::function<ProcessResult()> listBlockDevices;
    std::function<ProcessResult(const std::string& devicePath)> smartHealth;
    std::function<std::optional<std::string>()> mountTable;
    ContentProbe probeContent;
};

struct Result {
    int status = 0;
    std::string out;
    std::string err;
};

// Runs one command line of the tool (argv without the program name).
Result run(const std::vector<std::string>& args, const Sources& sources);

} // namespace DiskToolFormatter

} // namespace tolvarin
