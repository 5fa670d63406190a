#include "store/IntegrityChecker.h"

#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileFormat.h"
#include "store/Quarrykit.h"

#include "store/DataFileSet.h"
#include "store/TestLocks.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace tolvarin {

namespace {

constexpr const char* kInitialSurfaceLine1 =
    "SCAN CONROLLER: Initial scan file is corrupt and will be deleted at user request.";
constexpr const char* kInitialSurfaceLine2 =
    "Tests will begin with a new set of initial surface and seek scans.";
constexpr const char* kInitialSurfaceAbort =
    "SCAN CONTROLLER: Aborting scan on device with bad initial surface scan file.";
constexpr const char* kInitialSeekAbort =
    "SCAN CONTROLLER: Aborting scan on device with bad initial seek scan file.";

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

IntegrityChecker::IntegrityChecker(int deviceState, const std::string& tolvarinDir,
                                   Quarrykit& quarrykit, const std::string& filePrefix)
    : files_(tolvarinDir, filePrefix), quarrykit_(quarrykit), deviceState_(deviceState) {
    runCheck();
}

// --- checking files -----------------------------------------------------------

IntegrityChecker::FileCheck IntegrityChecker::checkFileText(std::string_view text,
                                                            const std::string& fileName) {
    std::string_view warning =
        DataFileFormat::kWarningLine.substr(0, DataFileFormat::kWarningCompared);
    std::string_view firstLine = text.substr(0, text.find('\n'));
    if (!DataFileFormat::startsWith(firstLine, warning)) {
        return FileCheck::BadHeader;
    }
    std::string_view body = text;
    if (!body.empty() && body.back() == '\n') {
        body.remove_suffix(1);
    }
    std::size_t nl = body.rfind('\n');
    std::string_view lastLine = nl == std::string_view::npos ? body : body.substr(nl + 1);
    if (!DataFileFormat::startsWith(lastLine, DataFileFormat::trailer(fileName))) {
        return FileCheck::BadTrailer;
    }
    return FileCheck::Sound;
}

namespace {

bool oneOf(const std::string& suffix, std::initializer_list<const char*> suffixes) {
    for (const char* s : suffixes) {
        if (suffix == s) {
            return true;
        }
    }
    return false;
}

// The whole number after key on a line of its own ("CNT: 30").
std::optional<int64_t> keyedNumber(std::string_view text, std::string_view key) {
    for (const DataFileLine& line : DataFileFormat::splitLines(text)) {
        if (DataFileFormat::startsWith(line.text, key)) {
            std::string_view rest = line.text.substr(key.size());
            while (!rest.empty() && rest.front() == ' ') {
                rest.remove_prefix(1);
            }
            return DataFileFormat::parseInteger(rest);
        }
    }
    return std::nullopt;
}

} // namespace

std::string IntegrityChecker::contentProblem(std::string_view text, const std::string& suffix,
                                             std::string_view sizingText) {
    bool surface = oneOf(suffix, {".iss", ".ssa", ".css", ".pss", ".sst"});
    bool seek = oneOf(suffix, {".isk", ".ska", ".csk", ".psk", ".skt"});
    if (surface || seek) {
        std::vector<DataFileLine> lines = DataFileFormat::splitLines(text);
        for (std::size_t i = 2; i < lines.size(); ++i) {
            std::string_view line = lines[i].text;
            if (DataFileFormat::startsWith(line, "I:")) {
                bool sound = surface ? DataFileFormat::parseSurfaceRecord(line).has_value()
                                     : DataFileFormat::parseSeekRecord(line).has_value();
                if (!sound) {
                    return "record \"" + std::string(line.substr(0, 120)) + "\"";
                }
            } else if (DataFileFormat::startsWith(line, "RPI")) {
                std::size_t colon = line.find(':');
                std::string_view value =
                    colon == std::string_view::npos ? line : line.substr(colon + 1);
                while (!value.empty() && value.front() == ' ') {
                    value.remove_prefix(1);
                }
                std::optional<double> index = DataFileFormat::parseDouble(value);
                if (!index || *index < 0) {
                    return "index \"" + std::string(line.substr(0, 120)) + "\"";
                }
            }
        }
        return "";
    }
    if (suffix == ".siz") {
        std::optional<int64_t> current = keyedNumber(text, "CSZ:");
        if (!current || *current <= 0 || !keyedNumber(text, "PSZ:") || !keyedNumber(text, "ORG:") ||
            !keyedNumber(text, "CNT:")) {
            return "no usable sizes";
        }
        return "";
    }
    if (suffix == ".skx") {
        std::optional<int64_t> count = keyedNumber(text, "CNT:");
        std::optional<int64_t> interval = keyedNumber(text, "ISZ:");
        if (!count || *count < kMinSeekLocations || *count > kMaxSeekLocations) {
            return "no usable seek location count (CNT:)";
        }
        if (!interval || *interval <= 0) {
            return "no usable seek interval (ISZ:)";
        }
        std::optional<int64_t> size = keyedNumber(sizingText, "CSZ:");
        // The last location and its 1,024-byte read lie inside the unit.
        if (size && *interval > (*size - 1024) / 512 / (*count - 1)) {
            return "seek locations beyond the size of the unit";
        }
        return "";
    }
    return "";
}

std::vector<std::string> IntegrityChecker::orphanedFiles(const std::string& dir) {
    auto regular = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    std::vector<std::string> orphans;
    for (const std::string& folder : {dir, dir + "/prev"}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            std::string name = entry.path().filename().string();
            std::size_t dot = name.find('.');
            if (name.empty() || name[0] == '.' || dot == std::string::npos || dot == 0 ||
                (DataFileSet::stateBitForSuffix(name.substr(dot)) == 0 &&
                 name.substr(dot) != ".dia") ||
                !regular(folder + "/" + name)) {
                continue;
            }
            std::string prefix = name.substr(0, dot);
            if (!regular(dir + "/" + prefix + ".hdr") && !TestLocks::unitUnderTest(dir, prefix)) {
                orphans.push_back(folder + "/" + name);
            }
        }
    }
    std::sort(orphans.begin(), orphans.end());
    return orphans;
}

bool IntegrityChecker::checkSingleFileWithSuffix(const std::string& suffix) {
    std::string path = pathFor(suffix);
    std::optional<std::string> text = SafeFile::read(path);
    if (!text) {
        return false;
    }
    switch (checkFileText(*text, files_.filePrefix() + suffix)) {
    case FileCheck::BadHeader:
        System::consoleLog("Tolvarin header file inconsistency: " + path);
        return false;
    case FileCheck::BadTrailer:
        System::consoleLog("Tolvarin trailer file inconsistency: " + path);
        return false;
    case FileCheck::Sound:
        break;
    }
    std::string sizing;
    if (suffix == ".skx") {
        sizing = SafeFile::read(pathFor(".siz")).value_or("");
    }
    std::string problem = contentProblem(*text, suffix, sizing);
    if (!problem.empty()) {
        Logger::updateLog("SCAN CONTROLLER: The file " + path + " holds " + problem +
                          " and is treated as damaged.");
        return false;
    }
    return true;
}

bool IntegrityChecker::checkBaseFiles() {
    for (const char* suffix : {".hdr", ".siz", ".ssx", ".skx"}) {
        if (!checkSingleFileWithSuffix(suffix)) {
            return false;
        }
    }
    return true;
}

// --- the walk ---------------------------------------------------------------------

void IntegrityChecker::runCheck() {
    if (!removeStrayEntries()) {
        return;
    }
    if (!checkBaseFiles()) {
        Logger::updateLog("SCAN CONTROLLER FAILED TO INITIALIZE: Corrupt index files.");
        if (MessageCenter::generateAlertDialogWithNumber(1008) == 1) {
            Logger::updateLog("SCAN CONTROLLER: Deleting all files on unit with corrupt indices.");
            Logger::updateLog("SCAN CONTROLLER: Exiting Tolvarin at user request.");
            deleteFilesForUnit();
            // The owner ends the program (services first); the unit has no
            // files left and no scan may run.
            exitStatus_ = kCorruptIndexExitStatus;
            deviceState_ = 0;
            resetFlag_ = true;
            return;
        }
        refuse("SCAN CONTROLLER: Aborting scan on device with bad indices");
        return;
    }
    switch (deviceState_) {
    case DataFileSet::State::initialSurfaceUnderWay:
    case DataFileSet::State::initialSurfaceDone:
    case DataFileSet::State::initialSeekUnderWay:
    case DataFileSet::State::initialScansDone:
        checkEarlyState();
        break;
    case DataFileSet::State::atRest:
    case DataFileSet::State::surfaceUnderWay:
    case DataFileSet::State::seekUnderWay:
    case DataFileSet::State::surfaceFolded:
    case DataFileSet::State::seekFolded:
        checkLaterState();
        break;
    default:
        // Files deleted or lost by hand leave sets the sequence never makes;
        // the missing file counts as the damaged one, and the walk of the
        // later states rolls the unit back to where the sequence goes on.
        if ((deviceState_ & DataFileSet::State::baseFiles) == DataFileSet::State::baseFiles &&
            deviceState_ != DataFileSet::State::baseFiles) {
            checkLaterState();
        }
        break;
    }
}

bool IntegrityChecker::removeStrayEntries() {
    std::vector<std::string> strays;
    quarrykit_.setDirContents(files_.tolvarinDir());
    for (const std::string& name : quarrykit_.dirContents()) {
        if (files_.holdsName(name) && !quarrykit_.isFile(files_.tolvarinDir() + "/" + name)) {
            strays.push_back(name);
        }
    }
    if (strays.empty()) {
        return true;
    }
    for (const std::string& name : strays) {
        Logger::updateLog("SCAN CONTROLLER: " + files_.tolvarinDir() + "/" + name +
                          " stands where a data file of this unit belongs and is no file.");
    }
    if (!prompt(1013, "SCAN CONROLLER: Corrupt files and will be deleted at user request.",
                "Tolvarin will roll back files to the best reproducible state.",
                "SCAN CONTROLLER: Aborting scan on device with one or more corrupt scan files.")) {
        return false;
    }
    for (const std::string& name : strays) {
        std::string path = files_.tolvarinDir() + "/" + name;
        if (!quarrykit_.deleteFile(path) && !SafeFile::removeEmptyDirectory(path)) {
            refuse(("SCAN CONTROLLER: Could not remove " + path +
                    "; remove it by hand before the next test.")
                       .c_str());
            return false;
        }
        Logger::writeDataToLogFile(Logger::charLogFileNameAndPath(),
                                   "SCAN CONTROLLER: Deleted file %s as directed by user\n",
                                   path.c_str());
    }
    return true;
}

void IntegrityChecker::checkEarlyState() {
    switch (deviceState_) {
    case DataFileSet::State::initialSurfaceUnderWay:
        if (!checkSingleFileWithSuffix(".iss")) {
            check31();
        }
        return;
    case DataFileSet::State::initialSurfaceDone:
        if (!checkSingleFileWithSuffix(".iss")) {
            // Whatever the answer, there is no sound baseline to rebuild the
            // average from.
            check63();
            return;
        }
        if (!checkSingleFileWithSuffix(".ssa")) {
            rebuildSurfaceAverage();
        }
        return;
    case DataFileSet::State::initialSeekUnderWay:
        if (!checkSingleFileWithSuffix(".iss")) {
            check127iss();
            return;
        }
        if (!checkSingleFileWithSuffix(".ssa") && !rebuildSurfaceAverage()) {
            return;
        }
        if (!checkSingleFileWithSuffix(".isk")) {
            check127isk();
        }
        return;
    case DataFileSet::State::initialScansDone:
        if (!checkSingleFileWithSuffix(".iss")) {
            check255iss();
            return;
        }
        if (!checkSingleFileWithSuffix(".ssa") && !rebuildSurfaceAverage()) {
            return;
        }
        if (!checkSingleFileWithSuffix(".isk")) {
            check255isk();
            return;
        }
        if (!checkSingleFileWithSuffix(".ska") && !rebuildSeekAverage()) {
            return;
        }
        // Completes the first-scan transition: the current files start as
        // copies of the baseline.
        if (rebuildCurrentFiles()) {
            deviceState_ = DataFileSet::State::atRest;
        }
        return;
    default:
        return;
    }
}

void IntegrityChecker::checkLaterState() {
    std::vector<std::string> order{".iss", ".ssa", ".isk", ".ska", ".css", ".csk"};
    std::vector<std::string> extras;
    switch (deviceState_) {
    case DataFileSet::State::surfaceUnderWay:
        order.push_back(".pss");
        extras = {".pss"};
        break;
    case DataFileSet::State::seekUnderWay:
        order.push_back(".psk");
        extras = {".psk"};
        break;
    case DataFileSet::State::surfaceFolded:
        order.push_back(".pss");
        extras = {".pss", ".sst"};
        break;
    case DataFileSet::State::seekFolded:
        order.push_back(".psk");
        extras = {".psk", ".skt"};
        break;
    default:
        break;
    }

    const bool known = extras.size() > 0 || deviceState_ == DataFileSet::State::atRest;
    if (!known) {
        // A set no step of the sequence leaves: whatever of the later
        // scans' files is there goes with the roll-back.
        for (const char* suffix : {".pss", ".psk", ".sst", ".skt"}) {
            if ((deviceState_ & DataFileSet::stateBitForSuffix(suffix)) != 0) {
                extras.push_back(suffix);
            }
        }
    }

    std::string failing;
    for (const std::string& suffix : order) {
        if (!checkSingleFileWithSuffix(suffix)) {
            failing = suffix;
            break;
        }
    }

    if (failing.empty() && !known) {
        // The six files are whole; only stray later files are in the way.
        if (!prompt(1013, "SCAN CONROLLER: Corrupt files and will be deleted at user request.",
                    "Tolvarin will roll back files to the best reproducible state.",
                    "SCAN CONTROLLER: Aborting scan on device with one or more corrupt scan "
                    "files.")) {
            return;
        }
        deleteAll(extras);
        deviceState_ = DataFileSet::State::atRest;
        return;
    }

    if (failing.empty()) {
        // Sound files: a fold written before the interruption may be torn,
        // and the sequence makes it again from sound files.
        if (deviceState_ == 6143 && discard(".sst")) {
            deviceState_ = 2047;
        } else if (deviceState_ == 11775 && discard(".skt")) {
            deviceState_ = 3583;
        }
        return;
    }

    if (!prompt(1013, "SCAN CONROLLER: Corrupt files and will be deleted at user request.",
                "Tolvarin will roll back files to the best reproducible state.",
                "SCAN CONTROLLER: Aborting scan on device with one or more corrupt scan files.")) {
        return;
    }

    std::vector<std::string> doomed;
    int state = DataFileSet::State::atRest;
    if (failing == ".iss") {
        doomed = {".iss", ".ssa", ".isk", ".ska", ".css", ".csk"};
        state = 15;
    } else if (failing == ".ssa") {
        doomed = {".ssa", ".isk", ".ska", ".css", ".csk"};
        state = 31;
    } else if (failing == ".isk") {
        doomed = {".isk", ".ska", ".css", ".csk"};
        state = 63;
    } else if (failing == ".ska") {
        doomed = {".ska", ".css", ".csk"};
    } else {
        doomed = {".css", ".csk"};
    }
    doomed.insert(doomed.end(), extras.begin(), extras.end());
    deleteAll(doomed);
    deviceState_ = state;
    if (state != DataFileSet::State::atRest) {
        return;
    }

    if (failing == ".ska" && !rebuildSeekAverage()) {
        // Baseline and surface average remain: the sequence makes the seek
        // average again from the sound baseline.
        deviceState_ = 127;
        return;
    }
    if (!rebuildCurrentFiles()) {
        deviceState_ = 255;
    }
}

// --- prompts --------------------------------------------------------------------------

bool IntegrityChecker::prompt(int message, const char* firstLine, const char* secondLine,
                              const char* abortLine) {
    if (MessageCenter::generateAlertDialogWithNumber(message) != 1) {
        refuse(abortLine);
        return false;
    }
    Logger::updateLog(firstLine);
    Logger::updateLog(secondLine);
    return true;
}

void IntegrityChecker::refuse(const char* line) {
    Logger::updateLog(line);
    resetFlag_ = true;
}

bool IntegrityChecker::check31() {
    if (!prompt(1009, kInitialSurfaceLine1, kInitialSurfaceLine2, kInitialSurfaceAbort)) {
        return false;
    }
    deleteAll({".iss"});
    deviceState_ = 15;
    return true;
}

bool IntegrityChecker::check63() {
    if (!prompt(1009, kInitialSurfaceLine1, kInitialSurfaceLine2, kInitialSurfaceAbort)) {
        return false;
    }
    deleteAll({".iss", ".ssa"});
    deviceState_ = 15;
    return true;
}

bool IntegrityChecker::check127iss() {
    if (!prompt(1009, kInitialSurfaceLine1, kInitialSurfaceLine2, kInitialSurfaceAbort)) {
        return false;
    }
    deleteAll({".iss", ".ssa", ".isk"});
    deviceState_ = 15;
    return true;
}

bool IntegrityChecker::check127isk() {
    if (!prompt(1010,
                "SCAN CONROLLER: Initial seek file is corrupt and will be deleted at user request.",
                "Tests will begin with a new  seek scan file.", kInitialSeekAbort)) {
        return false;
    }
    deleteAll({".isk"});
    deviceState_ = 63;
    return true;
}

bool IntegrityChecker::check255iss() {
    if (!prompt(1011,
                "SCAN CONROLLER: Initial scan files are corrupt and will be deleted at user "
                "request.",
                "Tests will begin with a new  surface scan file.", kInitialSurfaceAbort)) {
        return false;
    }
    deleteAll({".isk", ".iss", ".ssa", ".ska"});
    deviceState_ = 15;
    return true;
}

bool IntegrityChecker::check255isk() {
    if (!prompt(1012,
                "SCAN CONROLLER: Initial seek scan files are corrupt and will be deleted at user "
                "request.",
                "Tests will begin with generation of a new seek scan file.", kInitialSeekAbort)) {
        return false;
    }
    deleteAll({".isk", ".ska"});
    deviceState_ = 63;
    return true;
}

// --- rebuilding -------------------------------------------------------------------------

bool IntegrityChecker::rebuildSurfaceAverage() {
    if (fileProcessor_.createNewSSAFileWithFileName(files_.ssaFile(), files_.issFile())) {
        return true;
    }
    refuse("SCAN CONTROLLER: Could not rebuild the surface scan average file.");
    return false;
}

bool IntegrityChecker::rebuildSeekAverage() {
    if (fileProcessor_.createNewSKAFileWithFileName(files_.skaFile(), files_.iskFile())) {
        return true;
    }
    refuse("SCAN CONTROLLER: Could not rebuild the seek scan average file.");
    return false;
}

bool IntegrityChecker::rebuildCurrentFiles() {
    if (fileProcessor_.generateFileFromType(".iss", ".css", files_.issFile()) &&
        fileProcessor_.generateFileFromType(".isk", ".csk", files_.iskFile())) {
        return true;
    }
    // Half a pair of current files is a state nothing continues from.
    quarrykit_.deleteFile(files_.cssFile());
    quarrykit_.deleteFile(files_.cskFile());
    Logger::updateLog("SCAN CONTROLLER: Could not make the current scan files from the initial "
                      "scan files.");
    return false;
}

// --- deleting -----------------------------------------------------------------------------

bool IntegrityChecker::deleteFileAsDirected(Quarrykit& quarrykit, const std::string& path) {
    if (quarrykit.deleteFile(path)) {
        Logger::writeDataToLogFile(Logger::charLogFileNameAndPath(),
                                   "SCAN CONTROLLER: Deleted file %s as directed by user\n",
                                   path.c_str());
        return true;
    }
    Logger::updateLog("SCAN CONTROLLER: Could not delete files as requested by user.");
    return false;
}

bool IntegrityChecker::deleteSingleFileForUnitWithSuffix(const std::string& suffix) {
    std::string path = pathFor(suffix);
    if (!files_.usable() || !exists(path)) {
        return true;
    }
    return deleteFileAsDirected(quarrykit_, path);
}

bool IntegrityChecker::discard(const std::string& suffix) {
    std::string path = pathFor(suffix);
    if (!exists(path) || quarrykit_.deleteFile(path)) {
        System::consoleLog("Unfinished average discarded: " + path);
        return true;
    }
    refuse("SCAN CONTROLLER: Could not delete an unfinished average file.");
    return false;
}

void IntegrityChecker::deleteAll(const std::vector<std::string>& suffixes) {
    bool all = true;
    for (const std::string& suffix : suffixes) {
        all = deleteSingleFileForUnitWithSuffix(suffix) && all;
    }
    if (!all) {
        // The files no longer match any state; the scan must not run on them.
        resetFlag_ = true;
    }
}

bool IntegrityChecker::deleteFilesForUnit() {
    quarrykit_.setDirContents(files_.tolvarinDir());
    bool all = true;
    for (const std::string& name : quarrykit_.dirContents()) {
        if (files_.holdsName(name)) {
            all = deleteFileAsDirected(quarrykit_, files_.tolvarinDir() + "/" + name) && all;
        }
    }
    return all;
}

} // namespace tolvarin
