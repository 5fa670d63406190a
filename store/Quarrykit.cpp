#include "store/Quarrykit.h"

#include "platform/ModuleLoader.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

bool lstatMode(const std::string& path, mode_t* mode) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        return false;
    }
    *mode = st.st_mode;
    return true;
}

} // namespace

void Quarrykit::setDirContents(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') {
            continue;
        }
        names.push_back(std::move(name));
    }
    if (ec) {
        // A listing cut short by an error is not trusted in part: callers
        // delete and roll back by what they see.
        names.clear();
    }
    std::sort(names.begin(), names.end());
    std::lock_guard<std::mutex> lock(mutex_);
    contents_ = std::move(names);
}

std::vector<std::string> Quarrykit::dirContents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return contents_;
}

std::string Quarrykit::extractLastElementOfPath(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    if (trimmed == "/") {
        return trimmed;
    }
    auto slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string Quarrykit::extractFileSuffix(const std::string& fileName) {
    std::string name = extractLastElementOfPath(fileName);
    auto dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool Quarrykit::deleteFile(const std::string& path) {
    mode_t mode = 0;
    if (!lstatMode(path, &mode) || S_ISDIR(mode)) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

bool Quarrykit::copyFileFrom(const std::string& source, const std::string& target,
                             bool deleteTargetIfItExists) {
    mode_t mode = 0;
    if (!deleteTargetIfItExists && lstatMode(target, &mode)) {
        return false;
    }
    std::string error;
    std::optional<std::string> data = SafeFile::read(source, &error);
    if (!data) {
        System::consoleLog("Quarrykit: copy not made: " + error);
        return false;
    }
    if (!SafeFile::replace(target, *data, &error)) {
        System::consoleLog("Quarrykit: copy not made: " + error);
        return false;
    }
    return true;
}

bool Quarrykit::isDirectory(const std::string& path) {
    mode_t mode = 0;
    return lstatMode(path, &mode) && S_ISDIR(mode);
}

bool Quarrykit::makeDirectoryAtPath(const std::string& path) {
    std::string error;
    if (!SafeFile::makeDirectories(path, &error)) {
        System::consoleLog("Quarrykit: directory not made: " + error);
        return false;
    }
    return true;
}

bool Quarrykit::isFile(const std::string& path) {
    mode_t mode = 0;
    return lstatMode(path, &mode) && S_ISREG(mode);
}

std::unique_ptr<Quarrykit> Quarrykit::loadFromModule(const std::string& modulePath) {
    if (::access(modulePath.c_str(), R_OK) != 0) {
        System::consoleLog("ERROR: Quarrykit Bundle could not be found.");
        return nullptr;
    }
    std::string error;
    void* symbol = ModuleLoader::findFactory(modulePath, "Quarrykit", &error);
    if (symbol == nullptr) {
        System::consoleLog("ERROR: Quarrykit could not be loaded properly from bundle.");
        System::consoleLog(error);
        return nullptr;
    }
    using Factory = Quarrykit* (*)();
    std::unique_ptr<Quarrykit> quarrykit(reinterpret_cast<Factory>(symbol)());
    if (!quarrykit) {
        System::consoleLog("ERROR: Quarrykit could not be loaded properly from bundle.");
    }
    return quarrykit;
}

std::unique_ptr<Quarrykit> Quarrykit::load() {
    std::unique_ptr<Quarrykit> quarrykit = loadFromModule(ModuleLoader::modulePath("Quarrykit"));
    if (!quarrykit) {
        System::consoleLog("ERROR: One or more bundles could not be loaded. TERMINATING!");
    }
    return quarrykit;
}

} // namespace tolvarin
