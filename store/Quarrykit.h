#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvarin {

// The file utility component: every listing, copy and deletion of data files
// goes through one object of this class, made by the Quarrykit module's
// factory at start-up and shared by the hub, the drive processor, the scan
// controller and the integrity checker. Its one piece of state is the last
// directory listing.
//
// The process may hold root rights while it works in the user's folders, so
// nothing here follows a symbolic link at the final path element: a link is
// neither a file nor a directory, a copy replaces a link at its target instead
// of writing through it, and a copy never reads through a link at its source.
class Quarrykit {
  public:
    Quarrykit() = default;
    virtual ~Quarrykit() = default;
    Quarrykit(const Quarrykit&) = delete;
    Quarrykit& operator=(const Quarrykit&) = delete;

    // Lists the directory now; later dirContents() calls answer this listing.
    // Names are sorted; "." and ".." and hidden names (leftover temporary
    // files among them) are left out. An unreadable directory lists as empty.
    virtual void setDirContents(const std::string& directory);
    virtual std::vector<std::string> dirContents() const;

    // "/a/b/Tolvarin1.hdr" -> "Tolvarin1.hdr" (trailing slashes ignored).
    virtual std::string extractLastElementOfPath(const std::string& path);
    // The suffix of the last path element including its dot (".hdr"), or an
    // empty string when the name has no dot.
    virtual std::string extractFileSuffix(const std::string& fileName);

    // Removes a file (a link is removed itself, never its target). A
    // directory is not removed.
    virtual bool deleteFile(const std::string& path);
    // Copies source's bytes to target through a temporary file renamed over
    // the target, handed to the launching user. With deleteTargetIfItExists
    // false an existing target is left alone and the copy fails.
    virtual bool copyFileFrom(const std::string& source, const std::string& target,
                              bool deleteTargetIfItExists);
    // The path exists and is a directory (not a link to one).
    virtual bool isDirectory(const std::string& path);
    // Creates the directory and its missing parents for the launching user.
    virtual bool makeDirectoryAtPath(const std::string& path);
    // A regular file exists at the path (not a link to one).
    virtual bool isFile(const std::string& path);

    // Loads the module at modulePath and makes the object with its factory.
    // On failure it logs why ("Quarrykit Bundle could not be found." or
    // "Quarrykit could not be loaded properly from bundle.") and answers null.
    static std::unique_ptr<Quarrykit> loadFromModule(const std::string& modulePath);
    // Loads Quarrykit.so from the resources folder; null (logged) when it
    // cannot be loaded, and the owner ends the program with status -1.
    static std::unique_ptr<Quarrykit> load();

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> contents_;
};

} // namespace tolvarin
