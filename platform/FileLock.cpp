#include "platform/FileLock.h"

#include "platform/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tolvarin {

FileLock FileLock::acquire(const std::string& path, bool wait, Outcome* outcome,
                           std::string* error) {
    FileLock lock;
    *outcome = Outcome::failed;
    UniqueFd fd = SafeFile::openForAppend(path, error);
    if (!fd) {
        return lock;
    }
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            *outcome = Outcome::held;
        } else if (error != nullptr) {
            *error = path + ": " + std::strerror(errno);
        }
        return lock;
    }
    lock.fd_ = std::move(fd);
    *outcome = Outcome::acquired;
    return lock;
}

bool FileLock::heldElsewhere(const std::string& path) {
    UniqueFd fd = SafeFile::openForRead(path);
    if (!fd) {
        return false;
    }
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) {
        return false; // closing the descriptor releases the probe
    }
    return errno == EWOULDBLOCK;
}

std::string FileLock::unitKey(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return "";
    }
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) {
        return "dev-" + std::to_string(major(st.st_rdev)) + "-" + std::to_string(minor(st.st_rdev));
    }
    if (S_ISREG(st.st_mode)) {
        return "file-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
    }
    std::string key = "path" + path;
    std::replace(key.begin(), key.end(), '/', '_');
    return key;
}

} // namespace tolvarin
