#include "unitprobe/DiskToolFormatter.h"

#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <string_view>
#include <utility>

namespace tolvarin {

using nlohmann::json;

namespace {

constexpr const char* kToolPrefix = "tolvarin-disktool: ";
// "   Device Identifier:" and the blanks after it: where report values start.
constexpr size_t kKeyWidth = 29;
// lsblk nests holders a few levels deep; anything deeper is not a listing.
constexpr int kMaxDepth = 64;

// Column widths of the listing. The enumeration cuts rows at 0, 5, 32, 56 and
// 68 (index, type, name, size, identifier to the end of the line).
constexpr size_t kIndexWidth = 5;
constexpr size_t kTypeWidth = 27;
constexpr size_t kNameWidth = 23;
constexpr size_t kSizeWidth = 10;

// One block device as lsblk describes it. Text fields hold no control
// characters: a volume label is the user's (or a stranger's USB stick's) text
// and must not be able to forge a header or a report line.
struct BlockDevice {
    std::string kname, name, path, type, tran, fstype, label, uuid, parttype, parttypename;
    std::string pttype, model, serial, wwn, mountpoint, pkname;
    uint64_t size = 0;
    std::optional<uint64_t> fsavail;
    bool removable = false, readOnly = false, hotplug = false, rotational = false;
    // The devices this one sits on, in listing order: a partition's disk, a
    // RAID set's members.
    std::vector<int> parents;
};

using DeviceTable = std::vector<BlockDevice>;

std::string trimmed(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) {
        return {};
    }
    size_t e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

std::string clean(std::string s) {
    for (char& c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            c = ' ';
        }
    }
    return trimmed(s);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return s;
}

std::optional<uint64_t> parseUnsigned(std::string_view s) {
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return value;
}

// lsblk 2.33 and later write numbers and booleans as such; older releases
// write every value as a string. Both are read; anything else is absent.
std::string textField(const json& node, const char* key) {
    auto it = node.find(key);
    if (it == node.end()) {
        return {};
    }
    if (it->is_string()) {
        return clean(it->get<std::string>());
    }
    if (it->is_number_unsigned()) {
        return std::to_string(it->get<uint64_t>());
    }
    if (it->is_number_integer()) {
        return std::to_string(it->get<int64_t>());
    }
    return {};
}

std::optional<uint64_t> numberField(const json& node, const char* key) {
    auto it = node.find(key);
    if (it == node.end()) {
        return std::nullopt;
    }
    if (it->is_number_unsigned()) {
        return it->get<uint64_t>();
    }
    if (it->is_number_integer()) {
        auto v = it->get<int64_t>();
        return v >= 0 ? std::optional<uint64_t>(static_cast<uint64_t>(v)) : std::nullopt;
    }
    if (it->is_string()) {
        return parseUnsigned(trimmed(it->get<std::string>()));
    }
    return std::nullopt;
}

bool flagField(const json& node, const char* key) {
    auto it = node.find(key);
    if (it == node.end()) {
        return false;
    }
    if (it->is_boolean()) {
        return it->get<bool>();
    }
    if (it->is_number()) {
        return it->get<double>() != 0.0;
    }
    if (it->is_string()) {
        std::string v = lower(trimmed(it->get<std::string>()));
        return v == "1" || v == "true" || v == "yes";
    }
    return false;
}

BlockDevice readDevice(const json& node) {
    BlockDevice d;
    d.kname = textField(node, "kname");
    d.name = textField(node, "name");
    d.path = textField(node, "path");
    d.type = lower(textField(node, "type"));
    d.tran = lower(textField(node, "tran"));
    d.fstype = textField(node, "fstype");
    d.label = textField(node, "label");
    d.uuid = textField(node, "uuid");
    d.parttype = lower(textField(node, "parttype"));
    d.parttypename = textField(node, "parttypename");
    d.pttype = lower(textField(node, "pttype"));
    d.model = textField(node, "model");
    d.serial = textField(node, "serial");
    d.wwn = textField(node, "wwn");
    d.mountpoint = textField(node, "mountpoint");
    d.pkname = textField(node, "pkname");
    d.size = numberField(node, "size").value_or(0);
    d.fsavail = numberField(node, "fsavail");
    d.removable = flagField(node, "rm");
    d.readOnly = flagField(node, "ro");
    d.hotplug = flagField(node, "hotplug");
    d.rotational = flagField(node, "rota");
    if (d.kname.empty()) {
        d.kname = d.name;
    }
    return d;
}

// A kernel name is one path element; anything else cannot be a device here.
bool usableName(const std::string& kname) {
    return !kname.empty() && kname.find('/') == std::string::npos && kname != "." && kname != "..";
}

void addDevice(DeviceTable& table, std::map<std::string, int>& index, const json& node, int parent,
               int depth) {
    if (!node.is_object() || depth > kMaxDepth) {
        return;
    }
    BlockDevice d = readDevice(node);
    if (!usableName(d.kname)) {
        return;
    }
    // A RAID set (or anything with several holders) appears under each of its
    // members; it is kept once and remembers every member.
    if (auto found = index.find(d.kname); found != index.end()) {
        auto& parents = table[static_cast<size_t>(found->second)].parents;
        if (parent >= 0 && std::find(parents.begin(), parents.end(), parent) == parents.end()) {
            parents.push_back(parent);
        }
        return;
    }
    int self = static_cast<int>(table.size());
    if (parent >= 0) {
        d.parents.push_back(parent);
    }
    index.emplace(d.kname, self);
    table.push_back(std::move(d));
    auto children = node.find("children");
    if (children != node.end() && children->is_array()) {
        for (const auto& child : *children) {
            addDevice(table, index, child, self, depth + 1);
        }
    }
}

DeviceTable loadDevices(const json& lsblk) {
    DeviceTable table;
    if (!lsblk.is_object()) {
        return table;
    }
    auto devices = lsblk.find("blockdevices");
    if (devices == lsblk.end() || !devices->is_array()) {
        return table;
    }
    std::map<std::string, int> index;
    for (const auto& node : *devices) {
        addDevice(table, index, node, -1, 0);
    }
    // The flat form (lsblk --list) names the parent instead of nesting.
    for (size_t i = 0; i < table.size(); ++i) {
        BlockDevice& d = table[i];
        if (!d.parents.empty() || d.pkname.empty()) {
            continue;
        }
        if (auto found = index.find(d.pkname);
            found != index.end() && found->second != static_cast<int>(i)) {
            d.parents.push_back(found->second);
        }
    }
    return table;
}

bool isRaidSet(const BlockDevice& d) {
    return d.type.rfind("raid", 0) == 0 || d.type == "linear" || d.type == "md";
}

// Devices that get a block of their own in the listing.
bool isWholeDevice(const BlockDevice& d) {
    return d.type == "disk" || d.type == "loop" || d.type == "rom" || isRaidSet(d);
}

int parentOf(const BlockDevice& d) {
    return d.parents.empty() ? -1 : d.parents.front();
}

// The whole device a device belongs to: a partition's disk, else itself.
int wholeDeviceOf(const DeviceTable& table, int i) {
    const BlockDevice& d = table[static_cast<size_t>(i)];
    int parent = parentOf(d);
    if (d.type == "part" && parent >= 0 && isWholeDevice(table[static_cast<size_t>(parent)])) {
        return parent;
    }
    return i;
}

std::vector<int> partitionsOf(const DeviceTable& table, int disk) {
    std::vector<int> parts;
    for (size_t j = 0; j < table.size(); ++j) {
        if (table[j].type == "part" && parentOf(table[j]) == disk) {
            parts.push_back(static_cast<int>(j));
        }
    }
    return parts;
}

int findDevice(const DeviceTable& table, const std::string& device) {
    std::string id = Paths::identifierForRawDevicePath(device);
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].kname == id) {
            return static_cast<int>(i);
        }
    }
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].name == id || (!table[i].path.empty() && table[i].path == device)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// --- type words ----------------------------------------------------------------

bool isFatLike(const std::string& fs) {
    static const std::array<std::string_view, 9> names = {
        "vfat", "msdos", "fat", "fat12", "fat16", "fat32", "exfat", "ntfs", "ntfs3"};
    return std::find(names.begin(), names.end(), fs) != names.end();
}

bool isLinuxFileSystem(const std::string& fs) {
    static const std::array<std::string_view, 12> names = {"ext2", "ext3",  "ext4",     "ext4dev",
                                                           "xfs",  "btrfs", "reiserfs", "reiser4",
                                                           "jfs",  "f2fs",  "nilfs2",   "bcachefs"};
    return std::find(names.begin(), names.end(), fs) != names.end();
}

// The type word of a file system, as the enumeration recognises volumes:
// FAT, exFAT and NTFS must pass its FAT test and, on row 0, begin with
// "Microsoft".
std::string fileSystemTypeWord(const std::string& fstype) {
    std::string fs = lower(fstype);
    if (fs == "linux_raid_member") {
        return "Apple_RAID";
    }
    if (isFatLike(fs)) {
        return "Microsoft Basic Data";
    }
    if (fs == "hfsplus" || fs == "hfs") {
        return "Apple_HFS";
    }
    if (isLinuxFileSystem(fs)) {
        return "Linux_Filesystem";
    }
    if (fs == "swap") {
        return "Linux_Swap";
    }
    if (fs == "lvm2_member") {
        return "Linux_LVM";
    }
    if (fs == "crypto_luks") {
        return "Linux_LUKS";
    }
    std::string word = fstype;
    std::replace(word.begin(), word.end(), ' ', '_');
    return word;
}

// An MBR type code ("0x83", "0x0c") as a number, or -1 for a GPT type.
int mbrCode(const std::string& parttype) {
    if (parttype.rfind("0x", 0) != 0 || parttype.size() > 4) {
        return -1;
    }
    int value = -1;
    auto [end, ec] =
        std::from_chars(parttype.data() + 2, parttype.data() + parttype.size(), value, 16);
    return (ec == std::errc() && end == parttype.data() + parttype.size()) ? value : -1;
}

// Partition types that decide the word whatever file system is found on them.
std::string decisivePartitionType(const std::string& parttype) {
    static const std::map<std::string, std::string, std::less<>> gpt = {
        {"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", "EFI"},
        {"21686148-6449-6e6f-744e-656564454649", "BIOS_Boot"},
        {"e3c9e316-0b5c-4db8-817d-f92df00215ae", "MS_Reserved"},
        {"426f6f74-0000-11aa-aa11-00306543ecac", "Apple_Boot"},
        {"53746f72-6167-11aa-aa11-00306543ecac", "Apple_CoreStorage"},
        {"52414944-0000-11aa-aa11-00306543ecac", "Apple_RAID"},
        {"52414944-5f4f-11aa-aa11-00306543ecac", "Apple_RAID_Offline"},
        {"a19d880f-05fc-4d3b-a006-743f0f84911e", "Apple_RAID"},
        {"7c3457ef-0000-11aa-aa11-00306543ecac", "Apple_APFS"},
    };
    if (auto it = gpt.find(parttype); it != gpt.end()) {
        return it->second;
    }
    switch (mbrCode(parttype)) {
    case 0xef:
        return "EFI";
    case 0xfd:
        return "Apple_RAID";
    default:
        return {};
    }
}

// Partition types that stand in for a file system nobody could identify
// (lsblk without udev knows partition types but not file systems).
std::string fallbackPartitionType(const std::string& parttype) {
    static const std::map<std::string, std::string, std::less<>> gpt = {
        {"48465300-0000-11aa-aa11-00306543ecac", "Apple_HFS"},
        {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "Microsoft Basic Data"},
        {"0fc63daf-8483-4772-8e79-3d69d8477de4", "Linux_Filesystem"},
        {"4f68bce3-e8cd-4db1-96e7-fbcaf984b709", "Linux_Filesystem"},
        {"44479540-f297-41b2-9af7-d131d5f0458a", "Linux_Filesystem"},
        {"b921b045-1df0-41c3-af44-4c6f280d3fae", "Linux_Filesystem"},
        {"933ac7e1-2eb4-4f13-b844-0e14e2aef915", "Linux_Filesystem"},
        {"3b8f8425-20e0-4f3b-907f-1a25a76f98e8", "Linux_Filesystem"},
        {"4d21b016-b534-45c2-a9fb-5c16e091fd2d", "Linux_Filesystem"},
        {"bc13c2ff-59e6-4262-a352-b275fd6f7172", "Linux_Filesystem"},
    };
    if (auto it = gpt.find(parttype); it != gpt.end()) {
        return it->second;
    }
    switch (mbrCode(parttype)) {
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x07:
    case 0x0b:
    case 0x0c:
    case 0x0e:
        return "Microsoft Basic Data";
    case 0x83:
        return "Linux_Filesystem";
    case 0xaf:
        return "Apple_HFS";
    default:
        return {};
    }
}

std::string partitionTypeWord(const BlockDevice& part) {
    if (lower(part.fstype) == "linux_raid_member") {
        return "Apple_RAID";
    }
    if (std::string word = decisivePartitionType(part.parttype); !word.empty()) {
        return word;
    }
    if (!part.fstype.empty()) {
        return fileSystemTypeWord(part.fstype);
    }
    if (std::string word = fallbackPartitionType(part.parttype); !word.empty()) {
        return word;
    }
    return "No_File_System";
}

std::string schemeWord(const std::string& pttype) {
    if (pttype.empty()) {
        return {};
    }
    if (pttype == "gpt") {
        return "GUID_partition_scheme";
    }
    if (pttype == "dos") {
        return "FDisk_partition_scheme";
    }
    if (pttype == "mac") {
        return "Apple_partition_scheme";
    }
    return pttype + "_partition_scheme";
}

// A file system directly on the whole device makes it a volume of its own.
bool isWholeDeviceVolume(const BlockDevice& d, bool hasPartitions) {
    return !hasPartitions && !d.fstype.empty();
}

std::string wholeDeviceTypeWord(const BlockDevice& d, bool hasPartitions) {
    if (isWholeDeviceVolume(d, hasPartitions)) {
        return fileSystemTypeWord(d.fstype);
    }
    return schemeWord(d.pttype);
}

std::string fileSystemName(const std::string& fstype) {
    std::string fs = lower(fstype);
    if (fs == "vfat" || fs == "msdos" || fs.rfind("fat", 0) == 0) {
        return "MS-DOS FAT";
    }
    if (fs == "exfat") {
        return "ExFAT";
    }
    if (fs == "ntfs" || fs == "ntfs3") {
        return "NTFS";
    }
    if (fs == "hfsplus") {
        return "HFS+";
    }
    if (fs == "hfs") {
        return "HFS";
    }
    return fstype;
}

// The protocol word the enumeration maps to an interface: "SATA", "ATA",
// "ATAPI", "USB" and "FireWire" are the ones it knows.
std::string protocolWord(const BlockDevice& disk) {
    if (isRaidSet(disk)) {
        return "Software RAID";
    }
    if (disk.type == "loop") {
        return "Disk Image";
    }
    const std::string& t = disk.tran;
    if (t == "sata" || t == "ata") {
        if (disk.type == "rom") {
            return "ATAPI";
        }
        return t == "sata" ? "SATA" : "ATA";
    }
    static const std::map<std::string, std::string, std::less<>> words = {
        {"usb", "USB"},     {"ieee1394", "FireWire"},  {"nvme", "NVMe"},
        {"sas", "SAS"},     {"spi", "SCSI"},           {"fc", "Fibre Channel"},
        {"iscsi", "iSCSI"}, {"mmc", "Secure Digital"}, {"virtio", "Virtio"},
    };
    if (auto it = words.find(t); it != words.end()) {
        return it->second;
    }
    return t.empty() ? "Unknown" : t;
}

bool isExternalBus(const BlockDevice& disk) {
    return disk.tran == "usb" || disk.tran == "ieee1394";
}

bool isInternal(const BlockDevice& disk) {
    return !isExternalBus(disk) && disk.type != "loop";
}

bool isEjectable(const BlockDevice& disk) {
    return disk.removable || disk.hotplug || isExternalBus(disk) || disk.type == "loop" ||
           disk.type == "rom";
}

// --- text layout ---------------------------------------------------------------

// The listing's columns are counted in characters (UTF-8 sequences), so that
// a label with accents does not shift the columns after it.
size_t characterCount(const std::string& s) {
    return static_cast<size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first maxChars characters of s.
std::string cutCharacters(const std::string& s, size_t maxChars) {
    size_t chars = 0;
    for (size_t b = 0; b < s.size(); ++b) {
        if ((static_cast<unsigned char>(s[b]) & 0xC0) != 0x80 && chars++ == maxChars) {
            return s.substr(0, b);
        }
    }
    return s;
}

std::string alignRight(const std::string& s, size_t width) {
    size_t n = characterCount(s);
    return n >= width ? s : std::string(width - n, ' ') + s;
}

std::string alignLeft(const std::string& s, size_t width) {
    size_t n = characterCount(s);
    return n >= width ? s : s + std::string(width - n, ' ');
}

std::string listingRow(const std::string& index, const std::string& type, const std::string& name,
                       const std::string& size, const std::string& identifier) {
    // The name keeps one blank before the size column; the type and the
    // index never run into the next column.
    return alignRight(cutCharacters(index, kIndexWidth), kIndexWidth) +
           alignRight(cutCharacters(type, kTypeWidth), kTypeWidth) + " " +
           alignLeft(cutCharacters(name, kNameWidth - 1), kNameWidth) +
           alignRight(cutCharacters(size, kSizeWidth), kSizeWidth) + "  " + identifier + "\n";
}

std::string reportLine(const std::string& key, const std::string& value) {
    std::string line = "   " + key + ":";
    line.append(line.size() < kKeyWidth ? kKeyWidth - line.size() : 1, ' ');
    return line + value + "\n";
}

std::string sizeWithCounts(uint64_t bytes) {
    std::string text =
        DiskToolFormatter::formatSize(bytes) + " (" + std::to_string(bytes) + " Bytes)";
    if (bytes % 512 == 0) {
        text += " (exactly " + std::to_string(bytes / 512) + " 512-Byte-Units)";
    }
    return text;
}

std::string firstLine(const std::string& text) {
    std::string line = clean(text.substr(0, text.find('\n')));
    return cutCharacters(line, 200);
}

std::optional<json> parseJson(std::string_view text) {
    json j = json::parse(text.begin(), text.end(), nullptr, false);
    if (j.is_discarded()) {
        return std::nullopt;
    }
    return j;
}

// Undoes the octal escapes of /proc/self/mounts ("\040" for a blank).
std::string unescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            auto [end, ec] = std::from_chars(field.data() + i + 1, field.data() + i + 4, value, 8);
            if (ec == std::errc() && end == field.data() + i + 4) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// The devices whose content is worth asking the device itself about: those
// that can hold a file system and have a medium. Optical drives are left
// alone (a probe would wake or spin up the drive for nothing).
bool probeable(const json& node) {
    std::string type = lower(textField(node, "type"));
    bool kind = type == "disk" || type == "loop" || type == "part" || type == "md" ||
                type == "linear" || type.rfind("raid", 0) == 0;
    return kind && numberField(node, "size").value_or(0) > 0;
}

void fillFromProbes(json& node, const DiskToolFormatter::ContentProbe& probe,
                    const std::string& only, int depth) {
    if (depth > kMaxDepth) {
        return;
    }
    if (node.is_array()) {
        for (auto& child : node) {
            fillFromProbes(child, probe, only, depth + 1);
        }
        return;
    }
    if (!node.is_object()) {
        return;
    }
    std::string kname = textField(node, "kname");
    if (kname.empty()) {
        kname = textField(node, "name");
    }
    bool wanted = usableName(kname) && (only.empty() || only == kname) && probeable(node) &&
                  (textField(node, "fstype").empty() || textField(node, "uuid").empty());
    if (wanted) {
        if (std::optional<BlockContent> content = probe("/dev/" + kname)) {
            // lsblk's own answers stand; the probe fills the gaps, but a probe
            // that sees another file system than lsblk did lends it nothing.
            auto fill = [&](const char* key, const std::string& value) {
                if (textField(node, key).empty() && !value.empty()) {
                    node[key] = value;
                }
            };
            std::string known = lower(textField(node, "fstype"));
            if (known.empty() || known == lower(content->type)) {
                fill("fstype", content->type);
                fill("label", content->label);
                fill("uuid", content->uuid);
            }
            fill("pttype", content->tableType);
            fill("parttype", content->partitionType);
        }
    }
    if (auto children = node.find("children"); children != node.end()) {
        fillFromProbes(*children, probe, only, depth + 1);
    }
}

void fillFileSystems(json& node, const std::map<std::string, std::string>& mounted, int depth) {
    if (depth > kMaxDepth) {
        return;
    }
    if (node.is_array()) {
        for (auto& child : node) {
            fillFileSystems(child, mounted, depth + 1);
        }
        return;
    }
    if (!node.is_object()) {
        return;
    }
    if (textField(node, "fstype").empty()) {
        std::string path = textField(node, "path");
        std::string kname = textField(node, "kname");
        auto it = mounted.find(path);
        if (it == mounted.end() && usableName(kname)) {
            it = mounted.find("/dev/" + kname);
        }
        if (it != mounted.end()) {
            node["fstype"] = it->second;
        }
    }
    if (auto children = node.find("children"); children != node.end()) {
        fillFileSystems(*children, mounted, depth + 1);
    }
}

} // namespace

namespace DiskToolFormatter {

std::optional<json> parseLsblk(const std::string& text, std::string* error) {
    std::optional<json> parsed = parseJson(text);
    if (!parsed) {
        // lsblk's warnings share the pipe with its output; the listing is the
        // object that starts at the beginning of a line.
        size_t open = text.rfind('{', 0) == 0 ? 0 : text.find("\n{");
        size_t close = text.rfind('}');
        if (open != std::string::npos && close != std::string::npos && close > open) {
            parsed = parseJson(std::string_view(text).substr(open, close - open + 1));
        }
    }
    if (!parsed) {
        if (error != nullptr) {
            *error = text.empty() ? "lsblk printed nothing" : "lsblk printed no JSON";
        }
        return std::nullopt;
    }
    if (!parsed->is_object() || !parsed->contains("blockdevices") ||
        !(*parsed)["blockdevices"].is_array()) {
        if (error != nullptr) {
            *error = "lsblk's JSON has no \"blockdevices\" list";
        }
        return std::nullopt;
    }
    return parsed;
}

void applyProbes(json& lsblk, const ContentProbe& probe, const std::string& only) {
    if (!probe || !lsblk.is_object()) {
        return;
    }
    if (auto devices = lsblk.find("blockdevices"); devices != lsblk.end()) {
        fillFromProbes(*devices, probe, only, 0);
    }
}

void applyMountTable(json& lsblk, const std::string& mountsText) {
    std::map<std::string, std::string> mounted;
    size_t start = 0;
    while (start < mountsText.size()) {
        size_t end = mountsText.find('\n', start);
        if (end == std::string::npos) {
            end = mountsText.size();
        }
        std::string_view line(mountsText.data() + start, end - start);
        start = end + 1;
        std::vector<std::string> fields;
        size_t pos = 0;
        while (pos < line.size() && fields.size() < 3) {
            size_t blank = line.find(' ', pos);
            if (blank == std::string_view::npos) {
                blank = line.size();
            }
            if (blank > pos) {
                fields.emplace_back(line.substr(pos, blank - pos));
            }
            pos = blank + 1;
        }
        if (fields.size() < 3) {
            continue;
        }
        std::string device = unescapeMountField(fields[0]);
        const std::string& type = fields[2];
        // A FUSE mount does not say which file system it serves.
        if (device.rfind("/dev/", 0) != 0 || type.rfind("fuse", 0) == 0) {
            continue;
        }
        mounted.emplace(device, type);
    }
    if (lsblk.is_object()) {
        if (auto devices = lsblk.find("blockdevices"); devices != lsblk.end()) {
            fillFileSystems(*devices, mounted, 0);
        }
    }
}

std::string formatSize(uint64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + " B";
    }
    static const std::array<const char*, 6> units = {"KB", "MB", "GB", "TB", "PB", "EB"};
    uint64_t unit = 1000;
    for (size_t u = 0;; ++u, unit *= 1000) {
        uint64_t tenth = unit / 10;
        // Rounded to the nearest tenth without forming bytes * 10.
        uint64_t tenths = bytes / tenth + ((bytes % tenth) * 2 >= tenth ? 1 : 0);
        if (tenths < 10000 || u + 1 == units.size()) {
            return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + units[u];
        }
    }
}

std::string smartStatusWord(const std::optional<json>& smart) {
    if (!smart || !smart->is_object()) {
        return "Not Supported";
    }
    auto status = smart->find("smart_status");
    if (status == smart->end() || !status->is_object()) {
        return "Not Supported";
    }
    auto passed = status->find("passed");
    if (passed == status->end() || !passed->is_boolean()) {
        return "Not Supported";
    }
    return passed->get<bool>() ? "Verified" : "Failing";
}

std::string formatList(const json& lsblk) {
    DeviceTable table = loadDevices(lsblk);
    std::string out;
    for (size_t i = 0; i < table.size(); ++i) {
        const BlockDevice& d = table[i];
        // A device without a medium (an empty card reader or optical drive,
        // an unused zram or loop device) has nothing to test.
        if (!isWholeDevice(d) || d.size == 0) {
            continue;
        }
        std::vector<int> parts = partitionsOf(table, static_cast<int>(i));
        bool hasPartitions = !parts.empty();
        out += "/dev/" + d.kname + "\n";
        out += listingRow("#:", "TYPE", "NAME", "SIZE", "IDENTIFIER");
        out += listingRow("0:", wholeDeviceTypeWord(d, hasPartitions),
                          isWholeDeviceVolume(d, hasPartitions) ? d.label : "",
                          "*" + formatSize(d.size), d.kname);
        int index = 1;
        for (int j : parts) {
            const BlockDevice& p = table[static_cast<size_t>(j)];
            out += listingRow(std::to_string(index++) + ":", partitionTypeWord(p), p.label,
                              formatSize(p.size), p.kname);
        }
        out += "\n";
    }
    return out;
}

std::optional<std::string> formatInfo(const json& lsblk, const std::string& device,
                                      const std::optional<json>& smart) {
    DeviceTable table = loadDevices(lsblk);
    int i = findDevice(table, device);
    if (i < 0) {
        return std::nullopt;
    }
    int w = wholeDeviceOf(table, i);
    const BlockDevice& d = table[static_cast<size_t>(i)];
    const BlockDevice& disk = table[static_cast<size_t>(w)];
    bool whole = (w == i);
    bool hasPartitions = whole && !partitionsOf(table, i).empty();
    std::string type = whole ? wholeDeviceTypeWord(d, hasPartitions) : partitionTypeWord(d);
    bool volume = whole ? isWholeDeviceVolume(d, hasPartitions) : true;

    std::string out;
    out += reportLine("Device Identifier", d.kname);
    // The SMART watch of a running test takes the first line from the second
    // on that contains "SMART Status:", anywhere in it; the real one comes
    // before any label or model text that could hold those words.
    out += reportLine("SMART Status", smartStatusWord(smart));
    out += reportLine("Device Node", "/dev/" + d.kname);
    out += reportLine("Whole", whole ? "Yes" : "No");
    out += reportLine("Part of Whole", disk.kname);
    if (!disk.model.empty()) {
        out += reportLine("Device / Media Name", disk.model);
    }
    if (disk.type == "rom") {
        out += reportLine("Optical Drive Type", "Optical Drive");
    }
    if (!d.fstype.empty()) {
        if (!d.label.empty()) {
            out += reportLine("Volume Name", d.label);
        }
        out += reportLine("Mounted", d.mountpoint.empty() ? "No" : "Yes");
        if (!d.mountpoint.empty()) {
            out += reportLine("Mount Point", d.mountpoint);
        }
        out += reportLine("File System Personality", fileSystemName(d.fstype));
    }
    out += reportLine("Content (IOContent)", type);
    if (volume) {
        out += reportLine("Partition Type", type);
    }
    out += reportLine("Media Type", "Generic");
    out += reportLine("Protocol", protocolWord(disk));
    if (whole) {
        // The drive's own identity, for a disk that carries no volume.
        std::string id = !disk.wwn.empty() ? disk.wwn : disk.serial;
        if (!id.empty()) {
            out += reportLine("UUID", id);
        }
    }
    if (!d.fstype.empty() && !d.uuid.empty()) {
        out += reportLine("Volume UUID", d.uuid);
    }
    out += reportLine("Total Size", sizeWithCounts(d.size));
    if (d.fsavail) {
        out += reportLine("Volume Free Space", sizeWithCounts(*d.fsavail));
    }
    out += reportLine("Read-Only Media", d.readOnly ? "Yes" : "No");
    out += reportLine("Ejectable", isEjectable(disk) ? "Yes" : "No");
    out += reportLine("Internal", isInternal(disk) ? "Yes" : "No");
    if (disk.type == "disk") {
        out += reportLine("Solid State", disk.rotational ? "No" : "Yes");
    }
    return out;
}

std::optional<std::string> smartDevicePath(const json& lsblk, const std::string& device) {
    DeviceTable table = loadDevices(lsblk);
    int i = findDevice(table, device);
    if (i < 0) {
        return std::nullopt;
    }
    const BlockDevice& disk = table[static_cast<size_t>(wholeDeviceOf(table, i))];
    if (disk.type != "disk") {
        return std::nullopt;
    }
    return "/dev/" + disk.kname;
}

std::string formatListRAID(const json& lsblk) {
    DeviceTable table = loadDevices(lsblk);
    const std::string rule(79, '-');
    std::string out;
    for (const BlockDevice& set : table) {
        if (!isRaidSet(set)) {
            continue;
        }
        if (out.empty()) {
            out = "RAID SETS\n---------\n";
        }
        std::string uuid;
        for (int m : set.parents) {
            if (uuid.empty()) {
                uuid = table[static_cast<size_t>(m)].uuid;
            }
        }
        std::string kind = set.type == "raid1"    ? "Mirror"
                           : set.type == "raid0"  ? "Stripe"
                           : set.type == "linear" ? "Concat"
                                                  : set.type;
        out += "Name:                 " + set.name + "\n";
        out += "Unique ID:            " + (uuid.empty() ? std::string("-") : uuid) + "\n";
        out += "Type:                 " + kind + "\n";
        out += "Size:                 " + sizeWithCounts(set.size) + "\n";
        out += "Device Node:          " + set.kname + "\n";
        out += rule + "\n";
        out += "#  DevNode           UUID                                    Size\n";
        out += rule + "\n";
        // The enumeration takes the member's identifier as the text between
        // the first and second double blank of the row.
        int index = 0;
        for (int m : set.parents) {
            const BlockDevice& member = table[static_cast<size_t>(m)];
            out += alignLeft(std::to_string(index++), 3) + member.kname +
                   std::string(member.kname.size() < 16 ? 18 - member.kname.size() : 2, ' ') +
                   alignLeft(member.uuid.empty() ? "-" : member.uuid, 38) + "  " +
                   std::to_string(member.size) + "\n";
        }
        out += rule + "\n";
    }
    return out.empty() ? "No RAID sets found\n" : out;
}

Result run(const std::vector<std::string>& args, const Sources& sources) {
    Result result;
    std::string command = args.empty() ? std::string() : args[0];
    bool wellFormed = ((command == "list" || command == "listRAID") && args.size() == 1) ||
                      (command == "info" && args.size() == 2);
    if (!wellFormed) {
        result.status = 2;
        result.err = "usage: tolvarin-disktool list | info DEVICE | listRAID\n";
        return result;
    }
    if (!sources.listBlockDevices) {
        result.status = 1;
        result.err = std::string(kToolPrefix) + "no device listing available\n";
        return result;
    }
    ProcessResult listing = sources.listBlockDevices();
    if (!listing.started) {
        result.status = 1;
        result.err = std::string(kToolPrefix) + "cannot run lsblk: " + clean(listing.error) + "\n";
        return result;
    }
    if (!listing.finished()) {
        // Half a listing would pass for all the disks there are.
        result.status = 1;
        result.err = std::string(kToolPrefix) + clean(listing.error) + "\n";
        return result;
    }
    std::string why;
    std::optional<json> devices = parseLsblk(listing.output, &why);
    if (!devices) {
        result.status = 1;
        result.err = std::string(kToolPrefix) + why + " (exit status " +
                     std::to_string(listing.exitStatus) + ")";
        if (std::string line = firstLine(listing.output); !line.empty()) {
            result.err += ": " + line;
        }
        result.err += "\n";
        return result;
    }
    if (sources.probeContent) {
        // A report needs only its own device; the listing needs them all.
        applyProbes(*devices, sources.probeContent,
                    command == "info" ? Paths::identifierForRawDevicePath(args[1]) : "");
    }
    if (sources.mountTable) {
        if (std::optional<std::string> mounts = sources.mountTable()) {
            applyMountTable(*devices, *mounts);
        }
    }
    if (command == "list") {
        result.out = formatList(*devices);
        return result;
    }
    if (command == "listRAID") {
        result.out = formatListRAID(*devices);
        return result;
    }
    const std::string& device = args[1];
    std::optional<json> smart;
    if (sources.smartHealth) {
        if (std::optional<std::string> path = smartDevicePath(*devices, device)) {
            ProcessResult answer = sources.smartHealth(*path);
            if (answer.finished()) {
                smart = parseJson(answer.output);
            }
        }
    }
    std::optional<std::string> report = formatInfo(*devices, device, smart);
    if (!report) {
        result.status = 1;
        result.err = std::string(kToolPrefix) + "could not find disk: " + clean(device) + "\n";
        return result;
    }
    result.out = std::move(*report);
    return result;
}

} // namespace DiskToolFormatter

} // namespace tolvarin
