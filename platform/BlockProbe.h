#pragma once

#include <optional>
#include <string>

namespace tolvarin {

// What a block device (or an image of one) holds, read from the device itself
// by libblkid: lsblk learns these facts from udev's database, which
// containers, minimal systems and CI machines do not have. Every field is
// empty when nothing was found.
struct BlockContent {
    std::string type;          // file system or other content: ext4, crypto_LUKS, LVM2_member, swap
    std::string label;         // the file system's label
    std::string uuid;          // the file system's (or container's) UUID
    std::string tableType;     // the partition table on a whole device: gpt, dos
    std::string partitionType; // a partition's type in its table: a GPT type GUID or 0x83
    std::string partitionUuid; // a partition's own UUID in its table
};

namespace BlockProbe {

// Probes path, a block device or a regular file, read-only. Answers nullopt
// with the reason in error when it cannot be opened or read, or is a file of
// another kind. Content that matches several signatures at once is reported
// as none (a volume without a known file system), never as a guess.
std::optional<BlockContent> probe(const std::string& path, std::string* error = nullptr);

} // namespace BlockProbe

} // namespace tolvarin
