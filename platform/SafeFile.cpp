#include "platform/SafeFile.h"

#include "platform/LaunchingUser.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvarin {

namespace {

void setError(std::string* error, const std::string& path, const std::string& text) {
    if (error != nullptr) {
        *error = path + ": " + text;
    }
}

std::string describeOpenError(int err) {
    if (err == ELOOP) {
        return "is a symbolic link; refusing to write through it";
    }
    return std::strerror(err);
}

UniqueFd openChecked(const std::string& path, int flags, std::string* error) {
    UniqueFd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd) {
        setError(error, path, describeOpenError(errno));
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, path, "is not a regular file; refusing to use it");
        return UniqueFd();
    }
    // O_NONBLOCK only kept a planted FIFO from blocking the open.
    int current = ::fcntl(fd.get(), F_GETFL);
    if (current >= 0) {
        ::fcntl(fd.get(), F_SETFL, current & ~O_NONBLOCK);
    }
    return fd;
}

bool existed(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

namespace SafeFile {

UniqueFd openForAppend(const std::string& path, std::string* error) {
    bool wasThere = existed(path);
    UniqueFd fd = openChecked(path, O_WRONLY | O_APPEND | O_CREAT, error);
    if (fd && !wasThere) {
        LaunchingUser::handBack(fd.get());
    }
    return fd;
}

UniqueFd openForTruncate(const std::string& path, std::string* error) {
    UniqueFd fd = openChecked(path, O_WRONLY | O_CREAT, error);
    if (fd) {
        if (::ftruncate(fd.get(), 0) != 0) {
            setError(error, path, std::strerror(errno));
            return UniqueFd();
        }
        LaunchingUser::handBack(fd.get());
    }
    return fd;
}

UniqueFd createExclusive(const std::string& path, std::string* error) {
    UniqueFd fd = openChecked(path, O_WRONLY | O_CREAT | O_EXCL, error);
    if (fd) {
        LaunchingUser::handBack(fd.get());
    }
    return fd;
}

UniqueFd openForRead(const std::string& path, std::string* error) {
    return openChecked(path, O_RDONLY, error);
}

bool writeAll(int fd, std::string_view data, std::string* error) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (error != nullptr) {
                *error = std::strerror(errno);
            }
            return false;
        }
        if (n == 0) {
            if (error != nullptr) {
                *error = "short write";
            }
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

bool append(const std::string& path, std::string_view data, std::string* error) {
    UniqueFd fd = openForAppend(path, error);
    if (!fd) {
        return false;
    }
    std::string writeError;
    if (!writeAll(fd.get(), data, &writeError)) {
        setError(error, path, writeError);
        return false;
    }
    return true;
}

bool replace(const std::string& path, std::string_view data, std::string* error) {
    auto slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = dir + "/." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd) {
        setError(error, path,
                 std::string("cannot create a temporary file: ") + std::strerror(errno));
        return false;
    }
    std::string tmp(name.data());
    std::string writeError;
    bool ok = writeAll(fd.get(), data, &writeError);
    if (ok && ::fsync(fd.get()) != 0) {
        writeError = std::strerror(errno);
        ok = false;
    }
    if (ok) {
        ::fchmod(fd.get(), 0644);
        LaunchingUser::handBack(fd.get());
    }
    fd.reset();
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        writeError = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        setError(error, path, writeError);
    }
    return ok;
}

int removeStaleTemporaries(const std::string& dir,
                           const std::function<bool(const std::string& name)>& keep) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) {
        return 0;
    }
    int removed = 0;
    while (struct dirent* e = ::readdir(d.get())) {
        std::string name = e->d_name;
        // replace() names them "." + base + "." + six characters of mkostemp.
        if (name.size() < 9 || name[0] != '.' || name[name.size() - 7] != '.' ||
            (keep && keep(name))) {
            continue;
        }
        struct stat st {};
        std::string path = dir + "/" + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

std::optional<std::string> read(const std::string& path, std::string* error) {
    UniqueFd fd = openForRead(path, error);
    if (!fd) {
        return std::nullopt;
    }
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            setError(error, path, std::strerror(errno));
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

bool removeEmptyDirectory(const std::string& path, std::string* error) {
    if (::rmdir(path.c_str()) != 0) {
        setError(error, path, std::strerror(errno));
        return false;
    }
    return true;
}

std::string linkBelow(const std::string& base, const std::string& path) {
    if (base.empty() || path.size() <= base.size() || path.compare(0, base.size(), base) != 0 ||
        path[base.size()] != '/') {
        return "";
    }
    for (std::size_t at = path.find('/', base.size() + 1);; at = path.find('/', at + 1)) {
        std::string partial = path.substr(0, at);
        struct stat st {};
        if (::lstat(partial.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            return partial;
        }
        if (at == std::string::npos) {
            return "";
        }
    }
}

bool makeDirectories(const std::string& path, std::string* error) {
    if (path.empty()) {
        setError(error, path, "empty path");
        return false;
    }
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) {
            continue;
        }
        struct stat st {};
        if (::lstat(partial.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                continue;
            }
            // A link to a directory is accepted only above the user's own
            // folders (for example /home -> /var/home); never as the target.
            if (S_ISLNK(st.st_mode) && pos != std::string::npos &&
                ::stat(partial.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                continue;
            }
            setError(error, partial, "exists and is not a directory");
            return false;
        }
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            setError(error, partial, std::strerror(errno));
            return false;
        }
        UniqueFd dirFd(::open(partial.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dirFd) {
            LaunchingUser::handBack(dirFd.get());
        }
    }
    return true;
}

} // namespace SafeFile

} // namespace tolvarin
