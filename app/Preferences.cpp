#include "app/Preferences.h"

#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace tolvarin {

namespace {

struct KeyRange {
    const char* key;
    int defaultValue;
    int minimum;
    int maximum;
};

constexpr KeyRange kRanges[] = {
    {Preferences::probeKey, 0, 0, 1},
    {Preferences::errorLimitKey, 10, 1, 100},
    {Preferences::indexingControl, 1, 0, 1},
    {Preferences::disableTimeMachine, 0, 0, 1},
    {Preferences::disablePowerManagement, 0, 0, 1},
};

const KeyRange* rangeOf(const std::string& key) {
    for (const KeyRange& range : kRanges) {
        if (key == range.key) {
            return &range;
        }
    }
    return nullptr;
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        auto end = text.find('\n', from);
        if (end == std::string::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines;
}

// One line of the INI file as QSettings reads it.
struct IniLine {
    bool isSection = false;
    std::string section; // for a section header
    bool isEntry = false;
    std::string key;
    std::string value;
};

IniLine parseLine(const std::string& raw) {
    IniLine line;
    std::string text = trim(raw);
    if (text.empty() || text.front() == ';' || text.front() == '#') {
        return line;
    }
    if (text.front() == '[' && text.back() == ']') {
        line.isSection = true;
        line.section = trim(text.substr(1, text.size() - 2));
        return line;
    }
    auto equals = text.find('=');
    if (equals == std::string::npos) {
        return line;
    }
    line.isEntry = true;
    line.key = trim(text.substr(0, equals));
    line.value = trim(text.substr(equals + 1));
    return line;
}

// Keys before any section header belong to [General] too, as QSettings has it.
bool isGeneral(const std::string& section) {
    return section.empty() || section == "General";
}

enum class FileState { Missing, Read, Unreadable };

FileState readFile(const std::string& path, std::string* contents, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return FileState::Missing;
        }
        if (error != nullptr) {
            *error = path + ": " + std::strerror(errno);
        }
        return FileState::Unreadable;
    }
    std::optional<std::string> text = SafeFile::read(path, error);
    if (!text) {
        return FileState::Unreadable;
    }
    *contents = std::move(*text);
    return FileState::Read;
}

} // namespace

const std::vector<std::string>& Preferences::keys() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> names;
        for (const KeyRange& range : kRanges) {
            names.emplace_back(range.key);
        }
        return names;
    }();
    return all;
}

bool Preferences::isKey(const std::string& key) {
    return rangeOf(key) != nullptr;
}

int Preferences::defaultValue(const std::string& key) {
    const KeyRange* range = rangeOf(key);
    return range != nullptr ? range->defaultValue : 0;
}

int Preferences::minimumValue(const std::string& key) {
    const KeyRange* range = rangeOf(key);
    return range != nullptr ? range->minimum : 0;
}

int Preferences::maximumValue(const std::string& key) {
    const KeyRange* range = rangeOf(key);
    return range != nullptr ? range->maximum : 0;
}

int Preferences::normalizedValue(const std::string& key, long long value) {
    const KeyRange* range = rangeOf(key);
    if (range == nullptr) {
        return 0;
    }
    if (value >= range->minimum && value <= range->maximum) {
        return static_cast<int>(value);
    }
    // A switch has no "nearest" value: 7 is neither on nor off.
    if (range->maximum - range->minimum == 1) {
        return range->defaultValue;
    }
    return value < range->minimum ? range->minimum : range->maximum;
}

std::string Preferences::defaultFilePath() {
    return Paths::homeDirectory() + "/.config/Tolvarin/Tolvarin.conf";
}

Preferences::Preferences() : Preferences(defaultFilePath()) {}

Preferences::Preferences(std::string filePath) : filePath_(std::move(filePath)) {
    for (const KeyRange& range : kRanges) {
        values_[range.key] = range.defaultValue;
    }
}

bool Preferences::parseValue(const std::string& text, long long* value) {
    std::string word = trim(text);
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"') {
        word = trim(word.substr(1, word.size() - 2));
    }
    if (word == "true") {
        *value = 1;
        return true;
    }
    if (word == "false") {
        *value = 0;
        return true;
    }
    const char* begin = word.data();
    const char* end = word.data() + word.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    long long parsed = 0;
    auto [stop, ec] = std::from_chars(begin, end, parsed);
    if (begin == end || ec != std::errc() || stop != end) {
        return false;
    }
    *value = parsed;
    return true;
}

bool Preferences::load(std::string* error) {
    // A key taken out of the file reads as its default again.
    for (const KeyRange& range : kRanges) {
        values_[range.key] = range.defaultValue;
    }
    std::string contents;
    FileState state = readFile(filePath_, &contents, error);
    if (state != FileState::Read) {
        return state == FileState::Missing;
    }
    std::string section;
    for (const std::string& raw : splitLines(contents)) {
        IniLine line = parseLine(raw);
        if (line.isSection) {
            section = line.section;
            continue;
        }
        if (!line.isEntry || !isGeneral(section) || !isKey(line.key)) {
            continue;
        }
        long long value = 0;
        if (!parseValue(line.value, &value)) {
            values_[line.key] = defaultValue(line.key);
            System::consoleLog("Preferences: " + line.key + "=" + line.value + " in " + filePath_ +
                               " is not a number; using " + std::to_string(values_[line.key]));
            continue;
        }
        values_[line.key] = normalizedValue(line.key, value);
        if (values_[line.key] != value) {
            System::consoleLog("Preferences: " + line.key + "=" + line.value + " in " + filePath_ +
                               " is out of range; using " + std::to_string(values_[line.key]));
        }
    }
    return true;
}

bool Preferences::synchronize(std::string* error) {
    // Read afresh, so that what the desktop face wrote since is kept.
    std::string contents;
    std::string readError;
    FileState state = readFile(filePath_, &contents, &readError);
    if (state == FileState::Unreadable) {
        if (error != nullptr) {
            *error = readError + " (preferences not written)";
        }
        return false;
    }
    std::vector<std::string> lines = splitLines(contents);

    std::map<std::string, bool> written;
    std::string section;
    size_t generalEnd = std::string::npos; // after the last entry of the first [General]
    bool inFirstGeneral = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        IniLine line = parseLine(lines[i]);
        if (line.isSection) {
            inFirstGeneral = line.section == "General" && generalEnd == std::string::npos;
            if (inFirstGeneral) {
                generalEnd = i + 1;
            }
            section = line.section;
            continue;
        }
        if (line.isEntry && inFirstGeneral) {
            generalEnd = i + 1;
        }
        if (line.isEntry && isGeneral(section) && isKey(line.key)) {
            lines[i] = line.key + "=" + std::to_string(values_[line.key]);
            written[line.key] = true;
        }
    }

    std::vector<std::string> missing;
    for (const std::string& key : keys()) {
        if (!written[key]) {
            missing.push_back(key + "=" + std::to_string(values_[key]));
        }
    }
    if (!missing.empty() && generalEnd != std::string::npos) {
        lines.insert(lines.begin() + static_cast<long>(generalEnd), missing.begin(), missing.end());
    } else if (!missing.empty()) {
        // Entries above the first header are [General] already; the header
        // goes on top of them.
        std::vector<std::string> head{"[General]"};
        head.insert(head.end(), missing.begin(), missing.end());
        if (!lines.empty()) {
            head.emplace_back("");
        }
        lines.insert(lines.begin(), head.begin(), head.end());
    }

    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    auto slash = filePath_.find_last_of('/');
    if (slash != std::string::npos && slash > 0 &&
        !SafeFile::makeDirectories(filePath_.substr(0, slash), error)) {
        return false;
    }
    return SafeFile::replace(filePath_, text, error);
}

int Preferences::integerForKey(const std::string& key) const {
    auto it = values_.find(key);
    return it != values_.end() ? it->second : 0;
}

bool Preferences::setIntegerForKey(long long value, const std::string& key) {
    if (!isKey(key)) {
        return false;
    }
    values_[key] = normalizedValue(key, value);
    return true;
}

std::map<std::string, int> Preferences::dictionary() const {
    return values_;
}

} // namespace tolvarin
