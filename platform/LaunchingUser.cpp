#include "platform/LaunchingUser.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvarin {

namespace {

bool parseId(const char* text, unsigned long* out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *out = value;
    return true;
}

} // namespace

LaunchingUser LaunchingUser::current() {
    LaunchingUser user;
    user.uid = ::getuid();
    user.gid = ::getgid();
    if (user.uid == 0) {
        unsigned long id = 0;
        if (parseId(std::getenv("SUDO_UID"), &id)) {
            user.uid = static_cast<uid_t>(id);
            if (parseId(std::getenv("SUDO_GID"), &id)) {
                user.gid = static_cast<gid_t>(id);
            }
        } else if (parseId(std::getenv("PKEXEC_UID"), &id)) {
            user.uid = static_cast<uid_t>(id);
            user.gid = static_cast<gid_t>(-1);
        }
    }

    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(user.uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found) {
        user.userName = found->pw_name;
        user.homeDirectory = found->pw_dir;
        if (user.gid == static_cast<gid_t>(-1)) {
            user.gid = found->pw_gid;
        }
    } else {
        user.userName = std::to_string(user.uid);
        const char* home = std::getenv("HOME");
        user.homeDirectory = home != nullptr ? home : "/";
    }
    if (user.gid == static_cast<gid_t>(-1)) {
        user.gid = ::getgid();
    }
    struct group gr {};
    struct group* grFound = nullptr;
    if (::getgrgid_r(user.gid, &gr, buffer.data(), buffer.size(), &grFound) == 0 && grFound) {
        user.groupName = grFound->gr_name;
    } else {
        user.groupName = std::to_string(user.gid);
    }
    return user;
}

bool LaunchingUser::handBack(int fd, std::string* error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (error != nullptr) {
            *error = std::strerror(errno);
        }
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        if (error != nullptr) {
            *error = "not a regular file";
        }
        return false;
    }
    if (::geteuid() != 0) {
        return true;
    }
    LaunchingUser user = current();
    if (st.st_uid == user.uid && st.st_gid == user.gid) {
        return true;
    }
    if (::fchown(fd, user.uid, user.gid) != 0) {
        if (error != nullptr) {
            *error = std::strerror(errno);
        }
        return false;
    }
    return true;
}

bool LaunchingUser::handBackPath(const std::string& path, std::string* error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (error != nullptr) {
            *error = path + ": " +
                     (errno == ELOOP ? std::string("is a symbolic link; left alone")
                                     : std::string(std::strerror(errno)));
        }
        return false;
    }
    bool ok = handBack(fd.get(), error);
    if (!ok && error != nullptr) {
        *error = path + ": " + *error;
    }
    return ok;
}

} // namespace tolvarin
