#include "store/RunJournal.h"

#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileFormat.h"
#include "store/DataFileSet.h"
#include "store/IntegrityChecker.h"
#include "store/Quarrykit.h"
#include "store/TestFileBackup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace tolvarin {

namespace {

constexpr std::string_view kRecordHeading = "TOLVARIN TEST UNDER WAY";

bool present(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

RunJournal::RunJournal(Quarrykit& kit, std::string tolvarinDir, std::string filePrefix)
    : kit_(kit), tolvarinDir_(std::move(tolvarinDir)), filePrefix_(std::move(filePrefix)) {}

std::string RunJournal::backupDirectory() const {
    return tolvarinDir_ + "/prev";
}

std::string RunJournal::recordPath() const {
    return backupDirectory() + "/." + filePrefix_ + ".run";
}

std::string RunJournal::undoPath() const {
    return backupDirectory() + "/." + filePrefix_ + ".undo";
}

bool RunJournal::underWay() const {
    return !filePrefix_.empty() && (present(recordPath()) || present(undoPath()));
}

std::string RunJournal::recordText(const std::vector<std::string>& names) {
    std::string text(kRecordHeading);
    text += '\n';
    for (const std::string& name : names) {
        text += name;
        text += '\n';
    }
    return text;
}

std::optional<std::vector<std::string>> RunJournal::namesIn(std::string_view text) const {
    std::vector<DataFileLine> lines = DataFileFormat::splitLines(text);
    if (lines.empty() || lines.front().text != kRecordHeading) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string name(lines[i].text);
        if (name.empty()) {
            continue;
        }
        // A name from elsewhere would make the roll-back write outside the
        // unit's own files.
        if (!lines[i].terminated || name.find('/') != std::string::npos ||
            !DataFileSet(tolvarinDir_, filePrefix_).holdsName(name)) {
            return std::nullopt;
        }
        names.push_back(std::move(name));
    }
    return names;
}

bool RunJournal::begin() {
    if (filePrefix_.empty()) {
        return false;
    }
    // A record left from before is not this test's; begin() is only called
    // once any earlier record has been dealt with.
    removeRecord();
    TestFileBackup backup(kit_, tolvarinDir_);
    if (!backup.backupCurrentTestFilesWithFilePrefix(filePrefix_)) {
        Logger::updateLog("SCAN CONTROLLER: The files of this unit could not all be backed up; "
                          "an interrupted test cannot be undone.");
        // A partial backup is of no use and must not stand for a whole one.
        backup.deleteCurrentBackupFilesWithFilePrefix(filePrefix_);
        return false;
    }
    std::vector<std::string> names;
    kit_.setDirContents(backupDirectory());
    for (const std::string& name : kit_.dirContents()) {
        if (DataFileSet(tolvarinDir_, filePrefix_).holdsName(name)) {
            names.push_back(name);
        }
    }
    std::string error;
    if (!SafeFile::replace(recordPath(), recordText(names), &error)) {
        System::consoleLog("Test record not written: " + error);
        backup.deleteCurrentBackupFilesWithFilePrefix(filePrefix_);
        return false;
    }
    return true;
}

bool RunJournal::removeRecord() {
    bool removed = true;
    for (const std::string& path : {recordPath(), undoPath()}) {
        if (present(path) && !kit_.deleteFile(path)) {
            System::consoleLog("Test record not removed: " + path);
            removed = false;
        }
    }
    return removed;
}

bool RunJournal::commit() {
    if (filePrefix_.empty()) {
        return false;
    }
    bool removed = removeRecord();
    TestFileBackup(kit_, tolvarinDir_).deleteCurrentBackupFilesWithFilePrefix(filePrefix_);
    return removed;
}

void RunJournal::discard() {
    if (filePrefix_.empty()) {
        return;
    }
    removeRecord();
    TestFileBackup(kit_, tolvarinDir_).deleteCurrentBackupFilesWithFilePrefix(filePrefix_);
}

bool RunJournal::unfinished(const std::vector<std::string>& backedUp, bool kept) {
    const std::string prev = backupDirectory();
    // Groups in the order they are told.
    enum Group : std::size_t { putBack, asBefore, changed, made, missing, notAFile };
    std::vector<std::pair<const char*, std::vector<std::string>>> groups{
        {"put back from the backup", {}},
        {"as before the test", {}},
        {"changed by the test", {}},
        {"made by the test", {}},
        {"missing", {}},
        {"not a file", {}}};
    auto add = [&](Group group, const std::string& name) { groups[group].second.push_back(name); };
    for (const std::string& name : backedUp) {
        const std::string here = tolvarinDir_ + "/" + name;
        const std::string copy = prev + "/" + name;
        if (!kit_.isFile(copy)) {
            add(kit_.isFile(here) ? putBack : missing, name);
        } else if (!present(here)) {
            add(missing, name);
        } else if (!kit_.isFile(here)) {
            add(notAFile, name);
        } else {
            std::optional<std::string> a = SafeFile::read(here);
            std::optional<std::string> b = SafeFile::read(copy);
            add(a && b && *a == *b ? asBefore : changed, name);
        }
    }
    kit_.setDirContents(tolvarinDir_);
    for (const std::string& name : kit_.dirContents()) {
        if (DataFileSet(tolvarinDir_, filePrefix_).holdsName(name) &&
            std::find(backedUp.begin(), backedUp.end(), name) == backedUp.end()) {
            // Without the record's list nothing tells what the test made.
            add(!kit_.isFile(tolvarinDir_ + "/" + name) ? notAFile
                : backedUp.empty()                      ? changed
                                                        : made,
                name);
        }
    }
    // The names by their suffixes: the prefix is said once.
    std::string text = "The files of this unit (" + filePrefix_ + ".* in " + tolvarinDir_ +
                       ") are not all back as they were before the test:";
    const char* separator = " ";
    for (const auto& [what, names] : groups) {
        if (names.empty()) {
            continue;
        }
        text += separator;
        text += what;
        text += ":";
        for (std::size_t i = 0; i < names.size(); ++i) {
            text += (i == 0 ? " " : ", ") + names[i].substr(filePrefix_.size());
        }
        separator = "; ";
    }
    text += ". ";
    if (kept) {
        text += "The backup taken at the test's start stays in " + prev + " with its record" +
                (present(undoPath()) ? " (of a roll-back cut short)" : "") +
                "; the next normal test of this unit first finishes returning the files to "
                "their state before this test.";
    } else {
        text += "No whole backup of them is left; the next normal test of this unit checks "
                "them and offers to roll them back to the last state it can rebuild.";
    }
    rollBackProblem_ = text;
    // The log may be on the disk that just failed: the console hears it too.
    System::consoleLog(text);
    Logger::updateLog("SCAN CONTROLLER: " + text);
    return false;
}

bool RunJournal::rollBack() {
    rollBackProblem_.clear();
    if (!underWay()) {
        return false;
    }
    std::string prev = backupDirectory();
    // A roll-back cut short has moved some backups back already: those are
    // in place, not lost.
    const bool resumed = present(undoPath());
    std::optional<std::string> text = SafeFile::read(resumed ? undoPath() : recordPath());
    std::optional<std::vector<std::string>> names;
    if (text) {
        names = namesIn(*text);
    }
    bool usable = names.has_value();
    if (usable) {
        for (const std::string& name : *names) {
            usable = usable && (kit_.isFile(prev + "/" + name) ||
                                (resumed && kit_.isFile(tolvarinDir_ + "/" + name)));
        }
    }
    if (!usable) {
        Logger::updateLog("SCAN CONTROLLER: The backup of this unit's files is incomplete; the "
                          "files were left as they are.");
        removeRecord();
        return unfinished(names.value_or(std::vector<std::string>{}), false);
    }

    // The backups are moved back, not copied: a rename needs no room, so a
    // test that failed on a full disk is still undone. The record is renamed
    // first (no room needed either), so that a roll-back cut short is known
    // as one.
    if (!resumed && std::rename(recordPath().c_str(), undoPath().c_str()) != 0) {
        Logger::updateLog("SCAN CONTROLLER: Could not mark the roll-back of this unit's files: " +
                          std::string(std::strerror(errno)) + ".");
        return unfinished(*names, true);
    }
    for (const std::string& name : *names) {
        const std::string backup = prev + "/" + name;
        if (!kit_.isFile(backup)) {
            continue; // moved back by the roll-back that was cut short
        }
        if (std::rename(backup.c_str(), (tolvarinDir_ + "/" + name).c_str()) != 0) {
            // The record stays: the next start tries again from the same
            // whole backup.
            Logger::updateLog("SCAN CONTROLLER: Could not restore the backup file " + name + ": " +
                              std::strerror(errno) + ".");
            return unfinished(*names, true);
        }
    }
    kit_.setDirContents(tolvarinDir_);
    for (const std::string& name : kit_.dirContents()) {
        if (DataFileSet(tolvarinDir_, filePrefix_).holdsName(name) &&
            std::find(names->begin(), names->end(), name) == names->end()) {
            IntegrityChecker::deleteFileAsDirected(kit_, tolvarinDir_ + "/" + name);
        }
    }
    if (!removeRecord()) {
        // Every file is back, but the record stays: the next start goes
        // through the roll-back again, which then only removes the record.
        return unfinished(*names, true);
    }
    TestFileBackup(kit_, tolvarinDir_).deleteCurrentBackupFilesWithFilePrefix(filePrefix_);
    return true;
}

} // namespace tolvarin
