#pragma once

#include "platform/UniqueFd.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tolvarin {

// File operations for a process that may hold root rights while it writes
// into the user's folders: nothing here follows a symbolic link at the final
// path element, nothing writes into anything but a regular file, new files
// are handed to the launching user, and whole-file replacements go through a
// temporary file renamed over the old one.
namespace SafeFile {

// Opens path for appending, creating it when missing. A link or a
// non-regular file at path is refused (nullopt-equivalent: invalid fd) with a
// message.
UniqueFd openForAppend(const std::string& path, std::string* error = nullptr);
// Opens path for writing from empty (truncating it), creating it when missing.
UniqueFd openForTruncate(const std::string& path, std::string* error = nullptr);
// Creates a new file that must not exist yet (O_EXCL).
UniqueFd createExclusive(const std::string& path, std::string* error = nullptr);
// Opens an existing regular file for reading, without following a link.
UniqueFd openForRead(const std::string& path, std::string* error = nullptr);

// Writes all of data to fd; answers false with a message on a short write
// (for example a full disk).
bool writeAll(int fd, std::string_view data, std::string* error = nullptr);

// Appends data to path (opened and closed by this call) and hands a file it
// created back to the launching user.
bool append(const std::string& path, std::string_view data, std::string* error = nullptr);

// Replaces path as a whole: data goes to a temporary file in the same
// directory, is flushed to disk, handed to the launching user and renamed over
// path, so an interruption leaves either the old or the new file.
bool replace(const std::string& path, std::string_view data, std::string* error = nullptr);

// Removes the temporary files that replace() leaves behind when the process
// is killed between creating and renaming one (".NAME.XXXXXX" in dir),
// except those keep names (another test may be writing them). Answers how
// many were removed.
int removeStaleTemporaries(const std::string& dir,
                           const std::function<bool(const std::string& name)>& keep = nullptr);

// Reads a whole regular file (not through a link).
std::optional<std::string> read(const std::string& path, std::string* error = nullptr);

// Removes an empty directory (never one that holds anything, never through
// a link).
bool removeEmptyDirectory(const std::string& path, std::string* error = nullptr);

// The first entry below base on the way to path (path itself included) that
// is a symbolic link; empty when there is none or path is not below base.
// With root rights, a link the user controls is not followed into a folder
// the user could not write to.
std::string linkBelow(const std::string& base, const std::string& path);

// Creates a directory (and its missing parents) for the launching user.
bool makeDirectories(const std::string& path, std::string* error = nullptr);

} // namespace SafeFile

} // namespace tolvarin
