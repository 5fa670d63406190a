#include "platform/BlockProbe.h"

#include "platform/UniqueFd.h"

#include <blkid.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace tolvarin {

namespace {

struct ProbeDeleter {
    void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

std::string lookup(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &value, &length) != 0 || value == nullptr) {
        return {};
    }
    // The length counts the terminating NUL.
    return std::string(value, length > 0 && value[length - 1] == '\0' ? length - 1 : length);
}

} // namespace

namespace BlockProbe {

std::optional<BlockContent> probe(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<BlockContent> {
        if (error != nullptr) {
            *error = path + ": " + why;
        }
        return std::nullopt;
    };
    // Opened without waiting and without taking a terminal, should the name
    // not be a device at all; the kind is checked on the descriptor.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        return fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return fail(std::strerror(errno));
    }
    if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
        return fail("not a block device or an image file");
    }
    Probe probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), fd.get(), 0, 0) != 0) {
        return fail("cannot be probed");
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(),
                                      BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    int found = blkid_do_safeprobe(probe.get());
    if (found == -1) {
        return fail("could not be read");
    }
    BlockContent content;
    // -2: signatures of several kinds at once; 1: nothing known.
    if (found == 0) {
        content.type = lookup(probe.get(), "TYPE");
        content.label = lookup(probe.get(), "LABEL");
        content.uuid = lookup(probe.get(), "UUID");
        content.tableType = lookup(probe.get(), "PTTYPE");
        content.partitionType = lookup(probe.get(), "PART_ENTRY_TYPE");
        content.partitionUuid = lookup(probe.get(), "PART_ENTRY_UUID");
    }
    return content;
}

} // namespace BlockProbe

} // namespace tolvarin
