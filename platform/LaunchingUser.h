#pragma once

#include <string>
#include <sys/types.h>

namespace tolvarin {

// The person who started the program. Under sudo or pkexec the process runs
// as root, but every file it writes into the user's folders is handed back to
// this user and group.
struct LaunchingUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string userName;
    std::string groupName;
    std::string homeDirectory;

    // Real ids, or SUDO_UID/SUDO_GID (PKEXEC_UID) when those name the user.
    static LaunchingUser current();

    // Gives an open file to the launching user and group with fchown. Does
    // nothing when the process is not root or the file already belongs to the
    // user. Answers false with a message when the descriptor is not a regular
    // file or the change fails.
    static bool handBack(int fd, std::string* error = nullptr);
    // The same for a path, opened without following a symbolic link: a link
    // planted at path is refused and left untouched.
    static bool handBackPath(const std::string& path, std::string* error = nullptr);
};

} // namespace tolvarin
