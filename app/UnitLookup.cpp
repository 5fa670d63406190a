#include "app/UnitLookup.h"

#include "platform/Paths.h"
#include "platform/PosixRawDevice.h"
#include "unitprobe/DiskToolFormatter.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace tolvarin {

Media UnitLookup::mediaForPath(const std::string& path, int64_t size, bool imageFile) {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(path);
    m.setPrimaryDiskSize(size > 0 ? DiskToolFormatter::formatSize(static_cast<uint64_t>(size))
                                  : std::string("Unavailable"));
    m.setPrimaryDiskPartitionType(std::string("None"));
    m.setVolumeDiskID(std::string());
    m.setVolumePartitionType(std::nullopt);
    m.setVolumeFileSystem(std::nullopt);
    m.setVolumeName(std::nullopt);
    m.setVolumePartitionSize(std::nullopt);
    m.setVolumePartitionFreeSpace(std::nullopt);
    // Nothing to ask the disk tool about: no SMART watch for it.
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(std::string());
    m.setIsInternal(std::nullopt);
    m.setInterfaceType(std::string(imageFile ? "Disk Image" : "Unavailable"));
    m.setMediaType(std::string(imageFile ? "Image File" : "Generic"));
    m.setIsBootable(std::nullopt);
    m.setIsEjectable(std::nullopt);
    return m;
}

UnitLookup::Found UnitLookup::resolve(const std::string& unit, const MediaLister& lister) {
    Found out;
    auto fail = [&](Problem problem, const std::string& why) {
        out.problem = problem;
        out.error = why;
        return out;
    };
    auto find = [](const std::vector<Media>& media, const std::string& id) -> std::optional<Media> {
        for (const Media& m : media) {
            if ((m.isPrimaryDisk() && m.primaryDiskID() == id) ||
                (!m.isPrimaryDisk() && m.volumeDiskID() == id)) {
                return m;
            }
        }
        return std::nullopt;
    };

    // A unit is a block device or an image file; anything else (/dev/zero
    // reads without end and would be sized at petabytes) is refused.
    auto notAUnit = [](const std::string& name, const struct stat& st) -> std::string {
        if (S_ISDIR(st.st_mode)) {
            return name + " is a directory: give a disk or volume, or an image file";
        }
        if (S_ISCHR(st.st_mode)) {
            return name + " is a character device: give a disk or volume (a block device), or "
                          "an image file";
        }
        if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
            return name + " is neither a block device nor an image file";
        }
        return "";
    };

    if (unit.find('/') == std::string::npos) {
        out.mediaArray = lister ? lister() : std::vector<Media>{};
        out.media = find(out.mediaArray, unit);
        if (!out.media) {
            return fail(Problem::badInput,
                        "unknown unit '" + unit +
                            "': give an identifier that 'tolvarin-cli list' shows, "
                            "or the path of a device or image file");
        }
        // The node the test will open in place of the identifier.
        std::string node = Paths::rawDevicePathForIdentifier(unit);
        struct stat st {};
        if (::stat(node.c_str(), &st) == 0) {
            if (std::string why = notAUnit(node, st); !why.empty()) {
                out.media.reset();
                return fail(Problem::badInput, "unit '" + unit + "': " + why);
            }
        }
        return out;
    }

    std::error_code error;
    std::string path = std::filesystem::absolute(unit, error).lexically_normal().string();
    if (error) {
        path = unit;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int e = errno;
        if (e == ENOENT || e == ENOTDIR) {
            return fail(Problem::badInput, unit + ": no such device or image file");
        }
        return fail(Problem::cannotUse, unit + ": " + std::strerror(e));
    }
    if (std::string why = notAUnit(unit, st); !why.empty()) {
        return fail(Problem::badInput, why);
    }
    if (S_ISREG(st.st_mode)) {
        if (st.st_size == 0) {
            return fail(Problem::badInput, unit + " is an empty file: there is nothing to test");
        }
        out.media = mediaForPath(path, static_cast<int64_t>(st.st_size), true);
        out.mediaArray = {*out.media};
        return out;
    }
    // A block device node: the drive list knows it by its kernel name.
    std::string identifier = Paths::identifierForRawDevicePath(path);
    out.mediaArray = lister ? lister() : std::vector<Media>{};
    out.media = find(out.mediaArray, identifier);
    if (!out.media) {
        int64_t size = -1;
        if (auto device = PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly)) {
            size = device->reportedSize();
        }
        out.media = mediaForPath(path, size, false);
        out.mediaArray.push_back(*out.media);
    }
    return out;
}

} // namespace tolvarin
