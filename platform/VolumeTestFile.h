#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace tolvarin {

// A scratch file the program makes on a mounted volume it tests, while it
// may hold root rights on a volume a user controls. The directory and the
// file are reached through descriptors of the mount point and the
// directory, never through a link: a link planted at the directory or the
// file is refused, a file already at the path is left alone (the file is
// created exclusively), and every later open checks that the name still
// names the file this object created, so a name swapped for another file
// (a hard link to something precious) is refused as well. Removal takes
// only what this object made.
class VolumeTestFile {
  public:
    // Opens mountPoint, checks that its volume is writable with at least
    // bytes free, opens directoryName in it (creating it when missing) and
    // creates fileName there. On failure answers nullptr and says why in
    // error; nothing is left behind.
    static std::unique_ptr<VolumeTestFile> create(const std::string& mountPoint,
                                                  const std::string& directoryName,
                                                  const std::string& fileName, int64_t bytes,
                                                  std::string* error);
    // Does not remove anything: that is remove()'s, called when the caller
    // chooses.
    ~VolumeTestFile() = default;
    VolumeTestFile(const VolumeTestFile&) = delete;
    VolumeTestFile& operator=(const VolumeTestFile&) = delete;

    // The file, opened for writing from empty or for reading; an invalid
    // descriptor (and error) when the name no longer names it.
    UniqueFd openForWriting(std::string* error = nullptr);
    UniqueFd openForReading(std::string* error = nullptr);
    // What was written reaches the volume (fdatasync).
    static bool flushToVolume(int fd);
    // The next read of the file comes from the volume, not the page cache.
    static void dropCachedPages(int fd);

    // Removes the file if the name still names it, then the directory when
    // this object created it and it is empty. Safe to call twice.
    void remove();

    bool directoryCreated() const { return directoryCreated_; }
    const std::string& filePath() const { return filePath_; }
    const std::string& directoryPath() const { return directoryPath_; }

  private:
    VolumeTestFile() = default;
    UniqueFd openChecked(int flags, std::string* error);

    UniqueFd volume_;
    UniqueFd directory_;
    std::string directoryName_;
    std::string fileName_;
    std::string directoryPath_;
    std::string filePath_;
    bool directoryCreated_ = false;
    bool fileRemoved_ = false;
    dev_t directoryDevice_ = 0;
    ino_t directoryInode_ = 0;
    dev_t fileDevice_ = 0;
    ino_t fileInode_ = 0;
};

} // namespace tolvarin
