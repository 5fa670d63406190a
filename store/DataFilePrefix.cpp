#include "store/DataFilePrefix.h"

#include "store/CurrentDriveInfo.h"
#include "store/DriveProcessor.h"

namespace tolvarin {

bool DataFilePrefix::headerMatches(const std::vector<std::string>& headerLines,
                                   const std::vector<std::string>& target) {
    if (target.empty()) {
        return false;
    }
    for (const std::string& wanted : target) {
        bool found = false;
        for (const std::string& line : headerLines) {
            if (line.compare(0, wanted.size(), wanted) == 0) {
                found = true;
                break;
            }
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

std::string DataFilePrefix::prefixOfPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find('.'));
}

std::vector<std::string> DataFilePrefix::headerLines(const std::string& path) {
    // The catalogue's reader refuses links and oversized files; its longer
    // pieces are cut again to the length this match reads.
    std::vector<std::string> lines;
    for (const std::string& line : DriveProcessor::readHeaderLines(path)) {
        for (std::size_t at = 0; at < line.size() || at == 0; at += kLineLength) {
            lines.push_back(line.substr(at, kLineLength));
            if (line.empty()) {
                break;
            }
        }
    }
    return lines;
}

std::string DataFilePrefix::find(const std::vector<std::shared_ptr<CurrentDriveInfo>>& files,
                                 const std::vector<std::string>& target) {
    for (const auto& file : files) {
        if (file && headerMatches(headerLines(file->fullDataFileName()), target)) {
            return prefixOfPath(file->fullDataFileName());
        }
    }
    return "";
}

} // namespace tolvarin
