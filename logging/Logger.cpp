#include "logging/Logger.h"

#include "base/Clock.h"
#include "base/Media.h"
#include "base/Utils.h"
#include "platform/LaunchingUser.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <type_traits>
#include <utility>
#include <vector>

namespace tolvarin {

namespace {

const char* const kVersionString = "1.7.5.10";
const char* const kApplicationSupportDir = "/Library/Application Support/Tolvarin";

// A formatted piece is at most 254 characters: the size of the buffer the
// log lines were always built in, terminator included.
constexpr std::size_t kFormatBufferSize = 255;
// Names tried for a report before the test says none could be written.
constexpr int kReportNameTries = 100;

struct LoggerState {
    std::string versionString;
    std::string userDir;
    std::string tolvarinDir;
    std::string documentDir;
    std::string currentTimeStamp;
    std::string logFileNameAndPath;
    std::string charLogFileNameAndPath;
    std::string reportFileNameAndPath;
    std::string filePrefix;
    std::string CUserID;
    std::string CGroupID;
    std::string currentDataFile;
    std::string typeOfTest;
    std::string volumeOrDiskID;
    std::string smartStatus;
    std::string sizingScanStatus;
    std::string surfaceScanStatus;
    std::string seekScanStatus;
    int surfaceErrors = 0;
    int surfaceOddities = 0;
    int seekErrors = 0;
    int seekOddities = 0;
    int totalErrors = 0;
    int totalOddities = 0;
    int confirmedSurfaceOddities = 0;
    int confirmedSeekOddities = 0;
    int sizingScanErrors = 0;
    double initialRPISSLIN = 0;
    double initialRPISSRAT = 0;
    double initialRPISKLIN = 0;
    double initialRPISKRAT = 0;
    double currentRPISSLIN = 0;
    double currentRPISSRAT = 0;
    double currentRPISKLIN = 0;
    double currentRPISKRAT = 0;
    bool isInitialScan = false;
    std::string dateOfCompletion;
    std::shared_ptr<LogViewerSink> logViewerController;
    bool viewWindowActive = false;
    int logViewCount = 0;
    // Names with control characters and how log lines show them, longest
    // first so that a name holding another is replaced whole.
    std::vector<std::pair<std::string, std::string>> escapedNames;
};

std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}

std::atomic<const Clock*>& clockSlot() {
    static std::atomic<const Clock*> slot{&Clock::system()};
    return slot;
}

const Clock& clock() {
    return *clockSlot().load();
}

LoggerState& state() {
    static LoggerState s;
    return s;
}

template <typename T> T get(T LoggerState::*field) {
    std::lock_guard<std::mutex> lock(stateMutex());
    return state().*field;
}

template <typename T> void set(T LoggerState::*field, std::type_identity_t<T> value) {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().*field = std::move(value);
}

// The one place that touches a log or data file: open for appending without
// following a link, write, close. A file that cannot be opened gets nothing.
bool appendToFile(const std::string& path, const std::string& text,
                  std::string* failure = nullptr) {
    if (path.empty()) {
        return false;
    }
    std::string error;
    if (!SafeFile::append(path, text, &error)) {
        if (failure != nullptr) {
            *failure = error;
        } else {
            System::consoleLog("Log write failed: " + error);
        }
        return false;
    }
    return true;
}

// A run of identical log lines (a unit that fails every read the same way)
// is written a few times; the rest of the run is counted, and one line says
// how often it came again once another line comes or the run is flushed.
constexpr int kRepeatsWritten = 3;

struct RepeatedLines {
    std::string path;
    std::string piece;
    int run = 0;
    int counted = 0;
};

std::mutex& logWriteMutex() {
    static std::mutex m;
    return m;
}

// The logs that were cut (under logWriteMutex): path and why.
std::vector<std::pair<std::string, std::string>>& cutLogs() {
    static std::vector<std::pair<std::string, std::string>> cut;
    return cut;
}

const std::string* cutReasonLocked(const std::string& path) {
    for (const auto& [cutPath, why] : cutLogs()) {
        if (cutPath == path) {
            return &why;
        }
    }
    return nullptr;
}

// Appends a piece to a log that is not cut; the first failure cuts it and
// says so once on the console.
bool appendToUncutLog(const std::string& path, const std::string& piece) {
    if (path.empty() || cutReasonLocked(path) != nullptr) {
        return false;
    }
    std::string error;
    if (appendToFile(path, piece, &error)) {
        return true;
    }
    cutLogs().emplace_back(path, error);
    System::consoleLog("The log " + path + " was cut here: " + error +
                       "; nothing more is written to it.");
    return false;
}

RepeatedLines& repeatedLines() {
    static RepeatedLines r;
    return r;
}

bool hasContent(const std::string& piece) {
    return piece.find_first_not_of(" \t\r\n") != std::string::npos;
}

// Writes the count of a finished run (under logWriteMutex); answers the text
// written, for the viewer.
std::string closeRunLocked(RepeatedLines& r) {
    std::string note;
    if (r.counted > 0) {
        note = "   (the line above was repeated " + std::to_string(r.counted) +
               (r.counted == 1 ? " more time)\n" : " more times)\n");
        if (!appendToUncutLog(r.path, note)) {
            note.clear();
        }
    }
    r = RepeatedLines{};
    return note;
}

enum class LogAppend { written, counted, failed };

// Appends a piece to a log, counting it instead once it has come too often
// in a row; note receives the count of a run that this piece ended.
LogAppend appendToLog(const std::string& path, const std::string& piece, std::string* note) {
    std::lock_guard<std::mutex> lock(logWriteMutex());
    RepeatedLines& r = repeatedLines();
    if (!path.empty() && path == r.path && piece == r.piece && hasContent(piece)) {
        if (++r.run > kRepeatsWritten) {
            ++r.counted;
            return LogAppend::counted;
        }
    } else {
        *note = closeRunLocked(r);
        r.path = path;
        r.piece = piece;
        r.run = 1;
    }
    return appendToUncutLog(path, piece) ? LogAppend::written : LogAppend::failed;
}

// Hands the text just written to the log viewer. The lock is not held while
// the viewer runs: it may wait for another thread that is logging too.
void mirrorToViewer(const std::string& text) {
    std::shared_ptr<LogViewerSink> viewer = get(&LoggerState::logViewerController);
    if (viewer && viewer->logViewerIsActive()) {
        viewer->updateLogViewer(text);
    }
}

// A log append and its mirror in the viewer (a counted repeat shows nowhere).
bool logPiece(const std::string& path, const std::string& piece) {
    std::string note;
    LogAppend result = appendToLog(path, piece, &note);
    if (!note.empty()) {
        mirrorToViewer(note);
    }
    if (result == LogAppend::written) {
        mirrorToViewer(piece);
    }
    return result != LogAppend::failed;
}

std::string formatPiece(const char* format, va_list args) {
    char buffer[kFormatBufferSize] = {};
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    return std::string(buffer);
}

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

// The piece with every name given to escapeNameInLogLines shown escaped.
std::string withNamesEscaped(std::string piece) {
    std::vector<std::pair<std::string, std::string>> names;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        if (state().escapedNames.empty()) {
            return piece;
        }
        names = state().escapedNames;
    }
    for (const auto& [raw, shown] : names) {
        for (size_t at = piece.find(raw); at != std::string::npos;
             at = piece.find(raw, at + shown.size())) {
            piece.replace(at, raw.size(), shown);
        }
    }
    return piece;
}

// A printf-formatted log piece: names escaped before the piece is cut to its
// 254 characters, so that a cut cannot leave half a name unescaped.
std::string formatLogPiece(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    text = withNamesEscaped(std::move(text));
    if (text.size() > kFormatBufferSize - 1) {
        text.resize(kFormatBufferSize - 1);
    }
    return text;
}

std::string dashes() {
    return std::string(79, '-');
}

std::string directoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string logHeader(const std::string& rawDevicePath, const Media& m) {
    bool volume = !m.isPrimaryDisk();
    std::string h;
    h += "\n\n                 Tolvarin for Linux, version number " + Logger::versionString() +
         "\n\n";
    h += "Log started: " + Utils::createPrintableTimeStamp(clock()) + "\n";
    if (volume) {
        h += "The device under test is a volume named: " + m.volumeName() + "\n";
    } else {
        h += "The device under test is a primary drive with a drive ID of: " + m.primaryDiskID() +
             "\n";
    }
    h += "Raw device designation: " + rawDevicePath + "\n\n";
    h += "Device Characteristics:\n\n";
    h += "Primary Disk Data:\n";
    h += volume ? " Primary Disk/Volume Status: Volume\n"
                : " Primary Disk/Volume Status: Primary Disk\n";
    h += " Primary Disk ID:  " + m.primaryDiskID() + "\n";
    h += " Primary Disk Size:  " + m.primaryDiskSize() + "\n";
    h += " Primary Disk Partition Type:   " + m.primaryDiskPartitionType() + "\n";
    h += "\nVolume/Partition Information (if applicable):\n";
    h += " Volume ID:   " + m.volumeDiskID() + "\n";
    h += " Volume Partition Type:   " + m.volumePartitionType() + "\n";
    h += " Volume File System Type:  " + m.volumeFileSystem() + "\n";
    h += " Volume Name:  " + m.volumeName() + "\n";
    h += " Volume Partition Size:  " + m.volumePartitionSize() + "\n";
    h += " Volume Free Space:   " + m.volumePartitionFreeSpace() + "\n";
    h += "\nGeneral Information About This Device:\n";
    h += " S.M.A.R.T. Status:  " + m.SMARTStatus() + "\n";
    h += volume ? " UUID: " + m.UUID() + "\n" : std::string(" UUID:  N/A\n");
    h += " Drive Is Internal:   " + m.isInternal() + "\n";
    h += " Drive Interface Type:  " + m.interfaceType() + "\n";
    h += " Drive Media:   " + m.mediaType() + "\n";
    h += " Media is Bootable:   " + m.isBootable() + "\n";
    h += " Media is Ejectable:   " + m.isEjectable() + "\n\n";
    h += " Tolvarin File Prefix: " + Logger::filePrefix() + "\n\n";
    h += dashes() + "\n\n";
    return h;
}

} // namespace

void Logger::initWithUserDir(const std::string& userDir) {
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        state().versionString = kVersionString;
        state().logViewCount = 0;
        state().viewWindowActive = false;
    }
    setUserDir(userDir);
    setTolvarinDir();
    setDocumentDir();
}

void Logger::escapeNameInLogLines(const std::string& name) {
    if (!hasControlCharacter(name)) {
        return;
    }
    std::lock_guard<std::mutex> lock(stateMutex());
    auto& names = state().escapedNames;
    if (std::any_of(names.begin(), names.end(), [&](const auto& n) { return n.first == name; })) {
        return;
    }
    names.emplace_back(name, escapeControlCharacters(name));
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string Logger::escapeControlCharacters(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\n':
            shown += "\\n";
            break;
        case '\r':
            shown += "\\r";
            break;
        case '\t':
            shown += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                static const char digits[] = "0123456789abcdef";
                shown += "\\x";
                shown += digits[byte >> 4];
                shown += digits[byte & 0xf];
            } else {
                shown += c;
            }
        }
    }
    return shown;
}

void Logger::setLogFileNameAndPath() {
    setCurrentTimeStamp();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        state().logFileNameAndPath =
            state().documentDir + "/Log" + state().currentTimeStamp + ".txt";
        path = state().logFileNameAndPath;
    }
    escapeNameInLogLines(path);
    setCharLogFileNameAndPath();
}

void Logger::setUserLogFileNameAndPathWithString(const std::string& path) {
    escapeNameInLogLines(path);
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        state().logFileNameAndPath = path;
    }
    // The error-limit lines are written through the C form; keeping it on
    // the user's choice keeps them in the same log as everything else.
    setCharLogFileNameAndPath();
}

void Logger::setCharLogFileNameAndPath() {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().charLogFileNameAndPath = state().logFileNameAndPath;
}

void Logger::setReportFileNameAndPath() {
    setCurrentTimeStamp();
    std::string stamp = currentTimeStamp();
    std::string documents = documentDir();
    System::consoleLog("Current time stamp: " + stamp);
    System::consoleLog("DOCUMENT DIR: " + documents);
    // A name already taken (a report of the same second, a planted file)
    // gives way to the next free one: "Report<stamp>-2.rtf" and so on.
    std::string path = documents + "/Report" + stamp + ".rtf";
    struct stat st {};
    for (int n = 2; ::lstat(path.c_str(), &st) == 0 && n <= kReportNameTries; ++n) {
        path = documents + "/Report" + stamp + "-" + std::to_string(n) + ".rtf";
    }
    escapeNameInLogLines(path);
    set(&LoggerState::reportFileNameAndPath, path);
    System::consoleLog("LOG FILE NAME AND PATH: " + path);
    updateLog("Tolvarin report location: " + path);
}

void Logger::clearReportFileNameAndPath() {
    set(&LoggerState::reportFileNameAndPath, std::string());
}

namespace {

std::mutex& startProblemMutex() {
    static std::mutex m;
    return m;
}
std::string& startProblemText() {
    static std::string text;
    return text;
}
void noteStartProblem(const std::string& why) {
    System::consoleLog("Cannot start the log: " + why);
    std::lock_guard<std::mutex> lock(startProblemMutex());
    startProblemText() = why;
}

} // namespace

std::string Logger::startProblem() {
    std::lock_guard<std::mutex> lock(startProblemMutex());
    return startProblemText();
}

bool Logger::startLoggingOnDrive(const std::string& rawDevicePath, const Media& media) {
    for (const std::string& name :
         {rawDevicePath, media.primaryDiskID(), media.volumeDiskID(), media.volumeName()}) {
        escapeNameInLogLines(name);
    }
    std::string path = logFileNameAndPath();
    if (path.empty()) {
        noteStartProblem("No log file is named; the log of this test is not written.");
        return false;
    }
    std::string link =
        System::isPrivileged() ? SafeFile::linkBelow(userDir(), directoryOf(path)) : std::string();
    if (!link.empty()) {
        noteStartProblem(link + " is a symbolic link, which is not followed with root rights.");
        return false;
    }
    std::string documents = documentDir();
    struct stat st {};
    if (!documents.empty() && directoryOf(path) == documents &&
        ::lstat(documents.c_str(), &st) != 0) {
        std::string error;
        if (!SafeFile::makeDirectories(documents, &error)) {
            System::consoleLog("Cannot create the Documents folder: " + error);
        }
    }
    // A run counted in the previous log is closed there.
    flushRepeatedLines();
    std::string error;
    UniqueFd fd = SafeFile::openForTruncate(path, &error);
    if (!fd) {
        noteStartProblem(error);
        return false;
    }
    if (!SafeFile::writeAll(fd.get(), withNamesEscaped(logHeader(rawDevicePath, media)), &error)) {
        noteStartProblem(path + ": " + error);
        return false;
    }
    fd.reset();
    adjustFileOwnershipOnFile(path);
    {
        std::lock_guard<std::mutex> lock(logWriteMutex());
        std::erase_if(cutLogs(), [&](const auto& cut) { return cut.first == path; });
    }
    return true;
}

bool Logger::updateLog(const std::string& text) {
    return logPiece(logFileNameAndPath(), withNamesEscaped(text + "\n"));
}

bool Logger::updateLogWithCRString(const std::string& text) {
    return logPiece(logFileNameAndPath(), withNamesEscaped(text));
}

bool Logger::vwriteDataToLogFile(const std::string& path, const char* format, va_list args) {
    if (format == nullptr) {
        return false;
    }
    return logPiece(path, formatLogPiece(format, args));
}

std::string Logger::logCutReason(const std::string& path) {
    std::lock_guard<std::mutex> lock(logWriteMutex());
    const std::string* why = cutReasonLocked(path);
    return why != nullptr ? *why : std::string();
}

void Logger::flushRepeatedLines() {
    std::string note;
    {
        std::lock_guard<std::mutex> lock(logWriteMutex());
        note = closeRunLocked(repeatedLines());
    }
    if (!note.empty()) {
        mirrorToViewer(note);
    }
}

bool Logger::writeDataToLogFile(const char* path, const char* format, ...) {
    if (path == nullptr) {
        return false;
    }
    va_list args;
    va_start(args, format);
    bool ok = vwriteDataToLogFile(path, format, args);
    va_end(args);
    return ok;
}

bool Logger::writeDataToLogFile(const std::string& path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = vwriteDataToLogFile(path, format, args);
    va_end(args);
    return ok;
}

bool Logger::printSeparator() {
    return updateLogWithCRString("\n" + dashes() + "\n\n");
}

bool Logger::adjustFileOwnershipOnFile(const std::string& path) {
    std::string error;
    if (!LaunchingUser::handBackPath(path, &error)) {
        System::consoleLog("Cannot hand the file back to the user: " + error);
        return false;
    }
    return true;
}

void Logger::setLogViewerController(std::shared_ptr<LogViewerSink> viewer) {
    set(&LoggerState::logViewerController, std::move(viewer));
}
std::shared_ptr<LogViewerSink> Logger::logViewerController() {
    return get(&LoggerState::logViewerController);
}

std::string Logger::versionString() {
    return get(&LoggerState::versionString);
}
std::string Logger::userDir() {
    return get(&LoggerState::userDir);
}
void Logger::setUserDir(const std::string& v) {
    set(&LoggerState::userDir, v);
}
std::string Logger::tolvarinDir() {
    return get(&LoggerState::tolvarinDir);
}
void Logger::setTolvarinDir() {
    std::lock_guard<std::mutex> lock(stateMutex());
    // userDir + "/" + a folder that itself begins with "/": the doubled slash
    // is harmless in a path and kept as the design forms it.
    state().tolvarinDir = state().userDir + "/" + kApplicationSupportDir;
}
std::string Logger::documentDir() {
    return get(&LoggerState::documentDir);
}
void Logger::setDocumentDir() {
    std::lock_guard<std::mutex> lock(stateMutex());
    state().documentDir = state().userDir + "/Documents";
}
std::string Logger::currentTimeStamp() {
    return get(&LoggerState::currentTimeStamp);
}
void Logger::setCurrentTimeStamp() {
    set(&LoggerState::currentTimeStamp, Utils::createTimeStamp(clock()));
}
std::string Logger::logFileNameAndPath() {
    return get(&LoggerState::logFileNameAndPath);
}
std::string Logger::charLogFileNameAndPath() {
    return get(&LoggerState::charLogFileNameAndPath);
}
std::string Logger::reportFileNameAndPath() {
    return get(&LoggerState::reportFileNameAndPath);
}
std::string Logger::filePrefix() {
    return get(&LoggerState::filePrefix);
}
void Logger::setFilePrefix(const std::string& v) {
    set(&LoggerState::filePrefix, v);
}
std::string Logger::CUserID() {
    return get(&LoggerState::CUserID);
}
void Logger::setCUserID(const std::string& v) {
    set(&LoggerState::CUserID, v);
}
std::string Logger::CGroupID() {
    return get(&LoggerState::CGroupID);
}
void Logger::setCGroupID(const std::string& v) {
    set(&LoggerState::CGroupID, v);
}
std::string Logger::currentDataFile() {
    return get(&LoggerState::currentDataFile);
}
void Logger::setCurrentDataFile(const std::string& v) {
    set(&LoggerState::currentDataFile, v);
}
std::string Logger::typeOfTest() {
    return get(&LoggerState::typeOfTest);
}
void Logger::setTypeOfTest(const std::string& v) {
    set(&LoggerState::typeOfTest, v);
}
std::string Logger::volumeOrDiskID() {
    return get(&LoggerState::volumeOrDiskID);
}
void Logger::setVolumeOrDiskID(const std::string& v) {
    set(&LoggerState::volumeOrDiskID, v);
}
std::string Logger::smartStatus() {
    return get(&LoggerState::smartStatus);
}
void Logger::setSmartStatus(const std::string& v) {
    set(&LoggerState::smartStatus, v);
}
std::string Logger::sizingScanStatus() {
    return get(&LoggerState::sizingScanStatus);
}
void Logger::setSizingScanStatus(const std::string& v) {
    set(&LoggerState::sizingScanStatus, v);
}
std::string Logger::surfaceScanStatus() {
    return get(&LoggerState::surfaceScanStatus);
}
void Logger::setSurfaceScanStatus(const std::string& v) {
    set(&LoggerState::surfaceScanStatus, v);
}
std::string Logger::seekScanStatus() {
    return get(&LoggerState::seekScanStatus);
}
void Logger::setSeekScanStatus(const std::string& v) {
    set(&LoggerState::seekScanStatus, v);
}

int Logger::surfaceErrors() {
    return get(&LoggerState::surfaceErrors);
}
void Logger::setSurfaceErrors(int v) {
    set(&LoggerState::surfaceErrors, v);
}
int Logger::surfaceOddities() {
    return get(&LoggerState::surfaceOddities);
}
void Logger::setSurfaceOddities(int v) {
    set(&LoggerState::surfaceOddities, v);
}
int Logger::seekErrors() {
    return get(&LoggerState::seekErrors);
}
void Logger::setSeekErrors(int v) {
    set(&LoggerState::seekErrors, v);
}
int Logger::seekOddities() {
    return get(&LoggerState::seekOddities);
}
void Logger::setSeekOddities(int v) {
    set(&LoggerState::seekOddities, v);
}
int Logger::totalErrors() {
    return get(&LoggerState::totalErrors);
}
void Logger::setTotalErrors(int v) {
    set(&LoggerState::totalErrors, v);
}
int Logger::totalOddities() {
    return get(&LoggerState::totalOddities);
}
void Logger::setTotalOddities(int v) {
    set(&LoggerState::totalOddities, v);
}
int Logger::confirmedSurfaceOddities() {
    return get(&LoggerState::confirmedSurfaceOddities);
}
void Logger::setConfirmedSurfaceOddities(int v) {
    set(&LoggerState::confirmedSurfaceOddities, v);
}
int Logger::confirmedSeekOddities() {
    return get(&LoggerState::confirmedSeekOddities);
}
void Logger::setConfirmedSeekOddities(int v) {
    set(&LoggerState::confirmedSeekOddities, v);
}
int Logger::sizingScanErrors() {
    return get(&LoggerState::sizingScanErrors);
}
void Logger::setSizingScanErrors(int v) {
    set(&LoggerState::sizingScanErrors, v);
}

double Logger::initialRPISSLIN() {
    return get(&LoggerState::initialRPISSLIN);
}
void Logger::setInitialRPISSLIN(double v) {
    set(&LoggerState::initialRPISSLIN, v);
}
double Logger::initialRPISSRAT() {
    return get(&LoggerState::initialRPISSRAT);
}
void Logger::setInitialRPISSRAT(double v) {
    set(&LoggerState::initialRPISSRAT, v);
}
double Logger::initialRPISKLIN() {
    return get(&LoggerState::initialRPISKLIN);
}
void Logger::setInitialRPISKLIN(double v) {
    set(&LoggerState::initialRPISKLIN, v);
}
double Logger::initialRPISKRAT() {
    return get(&LoggerState::initialRPISKRAT);
}
void Logger::setInitialRPISKRAT(double v) {
    set(&LoggerState::initialRPISKRAT, v);
}
double Logger::currentRPISSLIN() {
    return get(&LoggerState::currentRPISSLIN);
}
void Logger::setCurrentRPISSLIN(double v) {
    set(&LoggerState::currentRPISSLIN, v);
}
double Logger::currentRPISSRAT() {
    return get(&LoggerState::currentRPISSRAT);
}
void Logger::setCurrentRPISSRAT(double v) {
    set(&LoggerState::currentRPISSRAT, v);
}
double Logger::currentRPISKLIN() {
    return get(&LoggerState::currentRPISKLIN);
}
void Logger::setCurrentRPISKLIN(double v) {
    set(&LoggerState::currentRPISKLIN, v);
}
double Logger::currentRPISKRAT() {
    return get(&LoggerState::currentRPISKRAT);
}
void Logger::setCurrentRPISKRAT(double v) {
    set(&LoggerState::currentRPISKRAT, v);
}

bool Logger::isInitialScan() {
    return get(&LoggerState::isInitialScan);
}
void Logger::setIsInitialScan(bool v) {
    set(&LoggerState::isInitialScan, v);
}
std::string Logger::dateOfCompletion() {
    return get(&LoggerState::dateOfCompletion);
}
void Logger::setDateOfCompletion() {
    set(&LoggerState::dateOfCompletion, Utils::createPrintableTimeStamp(clock()));
}
bool Logger::viewWindowActive() {
    return get(&LoggerState::viewWindowActive);
}
void Logger::setViewWindowActive(bool v) {
    set(&LoggerState::viewWindowActive, v);
}
int Logger::logViewCount() {
    return get(&LoggerState::logViewCount);
}
void Logger::setLogViewCount(int v) {
    set(&LoggerState::logViewCount, v);
}

void Logger::setClock(const Clock& clock) {
    clockSlot().store(&clock);
}

void Logger::resetForTests() {
    clockSlot().store(&Clock::system());
    {
        std::lock_guard<std::mutex> lock(logWriteMutex());
        repeatedLines() = RepeatedLines{};
        cutLogs().clear();
    }
    LoggerState fresh;
    std::shared_ptr<LogViewerSink> old;
    {
        std::lock_guard<std::mutex> lock(stateMutex());
        old = std::move(state().logViewerController);
        state() = std::move(fresh);
    }
    // The old viewer is released outside the lock, in case its destructor logs.
}

bool writeData(const char* path, const char* format, ...) {
    if (path == nullptr || format == nullptr) {
        return false;
    }
    va_list args;
    va_start(args, format);
    std::string piece = formatPiece(format, args);
    va_end(args);
    return appendToFile(path, piece);
}

bool writeData(const std::string& path, const char* format, ...) {
    if (format == nullptr) {
        return false;
    }
    va_list args;
    va_start(args, format);
    std::string piece = formatPiece(format, args);
    va_end(args);
    return appendToFile(path, piece);
}

} // namespace tolvarin
