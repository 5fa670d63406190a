#include "platform/VolumeTestFile.h"

#include "platform/LaunchingUser.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tolvarin {

namespace {

// Only the owner writes in a directory the test made: nobody can plant
// anything in it while the test runs.
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kFileMode = 0644;

void say(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

std::string openProblem(const std::string& path, int err) {
    if (err == ELOOP || err == ENOTDIR) {
        return path + ": is a symbolic link or not a directory; it is not followed";
    }
    return path + ": " + std::strerror(err);
}

bool sameObject(const struct stat& st, dev_t device, ino_t inode) {
    return st.st_dev == device && st.st_ino == inode;
}

} // namespace

std::unique_ptr<VolumeTestFile> VolumeTestFile::create(const std::string& mountPoint,
                                                       const std::string& directoryName,
                                                       const std::string& fileName, int64_t bytes,
                                                       std::string* error) {
    if (mountPoint.empty() || directoryName.empty() || fileName.empty() ||
        directoryName.find('/') != std::string::npos || fileName.find('/') != std::string::npos) {
        say(error, "no volume or test file name to use");
        return nullptr;
    }
    std::unique_ptr<VolumeTestFile> file(new VolumeTestFile());
    file->directoryName_ = directoryName;
    file->fileName_ = fileName;
    std::string base = mountPoint.size() > 1 && mountPoint.back() == '/'
                           ? mountPoint.substr(0, mountPoint.size() - 1)
                           : mountPoint;
    file->directoryPath_ = (base == "/" ? std::string() : base) + "/" + directoryName;
    file->filePath_ = file->directoryPath_ + "/" + fileName;

    file->volume_ =
        UniqueFd(::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!file->volume_) {
        say(error, openProblem(mountPoint, errno));
        return nullptr;
    }
    struct statvfs vfs {};
    if (::fstatvfs(file->volume_.get(), &vfs) != 0) {
        say(error, mountPoint + ": " + std::strerror(errno));
        return nullptr;
    }
    if ((vfs.f_flag & ST_RDONLY) != 0) {
        say(error, mountPoint + ": the volume is mounted read-only");
        return nullptr;
    }
    const unsigned long long freeBytes = static_cast<unsigned long long>(vfs.f_bavail) *
                                         static_cast<unsigned long long>(vfs.f_frsize);
    if (bytes > 0 && freeBytes < static_cast<unsigned long long>(bytes)) {
        say(error, mountPoint + ": the volume has " + std::to_string(freeBytes) +
                       " bytes free, fewer than the " + std::to_string(bytes) + " the test needs");
        return nullptr;
    }

    const int volume = file->volume_.get();
    if (::mkdirat(volume, directoryName.c_str(), kDirectoryMode) == 0) {
        file->directoryCreated_ = true;
    } else if (errno != EEXIST) {
        say(error, file->directoryPath_ + ": " + std::strerror(errno));
        return nullptr;
    }
    file->directory_ = UniqueFd(
        ::openat(volume, directoryName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!file->directory_) {
        int err = errno;
        // Made a moment ago and already swapped: whatever is there now is
        // not this program's to remove.
        file->directoryCreated_ = false;
        say(error, openProblem(file->directoryPath_, err));
        return nullptr;
    }
    struct stat dirStat {};
    if (::fstat(file->directory_.get(), &dirStat) != 0) {
        say(error, file->directoryPath_ + ": " + std::strerror(errno));
        file->remove();
        return nullptr;
    }
    file->directoryDevice_ = dirStat.st_dev;
    file->directoryInode_ = dirStat.st_ino;
    if (file->directoryCreated_) {
        LaunchingUser::handBack(file->directory_.get());
    }

    UniqueFd created(::openat(file->directory_.get(), fileName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!created) {
        int err = errno;
        say(error, err == EEXIST
                       ? file->filePath_ + ": something is already there (a file or a link); it is "
                                           "left alone"
                       : file->filePath_ + ": " + std::strerror(err));
        file->fileRemoved_ = true; // nothing of ours to remove
        file->remove();
        return nullptr;
    }
    struct stat fileStat {};
    if (::fstat(created.get(), &fileStat) != 0) {
        say(error, file->filePath_ + ": " + std::strerror(errno));
        return nullptr;
    }
    file->fileDevice_ = fileStat.st_dev;
    file->fileInode_ = fileStat.st_ino;
    LaunchingUser::handBack(created.get());
    return file;
}

UniqueFd VolumeTestFile::openChecked(int flags, std::string* error) {
    if (fileRemoved_ || !directory_) {
        say(error, filePath_ + ": the test file is gone");
        return UniqueFd();
    }
    // Non-blocking only so that a FIFO put in its place cannot hang the open.
    UniqueFd fd(
        ::openat(directory_.get(), fileName_.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        say(error, openProblem(filePath_, errno));
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !sameObject(st, fileDevice_, fileInode_)) {
        say(error, filePath_ + ": is no longer the test file this program made; left alone");
        return UniqueFd();
    }
    int current = ::fcntl(fd.get(), F_GETFL);
    if (current >= 0) {
        ::fcntl(fd.get(), F_SETFL, current & ~O_NONBLOCK);
    }
    return fd;
}

UniqueFd VolumeTestFile::openForWriting(std::string* error) {
    // Opened without truncation: the name is checked first.
    UniqueFd fd = openChecked(O_WRONLY, error);
    if (fd && ::ftruncate(fd.get(), 0) != 0) {
        say(error, filePath_ + ": " + std::strerror(errno));
        return UniqueFd();
    }
    return fd;
}

UniqueFd VolumeTestFile::openForReading(std::string* error) {
    return openChecked(O_RDONLY, error);
}

bool VolumeTestFile::flushToVolume(int fd) {
    return ::fdatasync(fd) == 0;
}

void VolumeTestFile::dropCachedPages(int fd) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

void VolumeTestFile::remove() {
    if (!directory_) {
        return;
    }
    if (!fileRemoved_) {
        struct stat st {};
        if (::fstatat(directory_.get(), fileName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameObject(st, fileDevice_, fileInode_)) {
            ::unlinkat(directory_.get(), fileName_.c_str(), 0);
        }
        fileRemoved_ = true;
    }
    if (directoryCreated_ && volume_) {
        struct stat st {};
        if (::fstatat(volume_.get(), directoryName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode) && sameObject(st, directoryDevice_, directoryInode_)) {
            // Fails, and keeps it, when something else was put in it.
            ::unlinkat(volume_.get(), directoryName_.c_str(), AT_REMOVEDIR);
        }
        directoryCreated_ = false;
    }
}

} // namespace tolvarin
