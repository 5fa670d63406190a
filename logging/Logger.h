#pragma once

#include <cstdarg>
#include <memory>
#include <string>

namespace tolvarin {

class Clock;
class Media;

// What the logger needs of the log viewer window. The logger calls it from
// whatever thread is logging; a face whose window lives on another thread
// hops there inside updateLogViewer and returns once the text is shown.
class LogViewerSink {
  public:
    virtual ~LogViewerSink() = default;
    virtual bool logViewerIsActive() = 0;
    virtual void updateLogViewer(const std::string& text) = 0;
};

// The application's single logging service and the holder of the results the
// report prints. Everything is process-wide: several threads log and set
// results, so the state sits behind one lock and getters hand out copies.
// Every append opens, writes and closes its file, so the log is complete on
// disk after each line.
class Logger {
  public:
    // Version, user, data and documents folders; no log is named yet.
    static void initWithUserDir(const std::string& userDir);

    // Names a fresh log, documentDir/Log<stamp>.txt.
    static void setLogFileNameAndPath();
    // The log the user chose instead.
    static void setUserLogFileNameAndPathWithString(const std::string& path);
    // Names a fresh report, documentDir/Report<stamp>.rtf, or the first of
    // Report<stamp>-2.rtf, -3, ... at which nothing stands.
    static void setReportFileNameAndPath();
    // No report is named (none could be written).
    static void clearReportFileNameAndPath();

    // Starts the log of a test from empty with the header describing the
    // device. Answers false, with a console line, when the log cannot be
    // written.
    static bool startLoggingOnDrive(const std::string& rawDevicePath, const Media& media);
    // Why the last startLoggingOnDrive failed.
    static std::string startProblem();

    // Appends to the log: the text and a newline; the text as it is. Both
    // are mirrored to an active log viewer.
    static bool updateLog(const std::string& text);
    static bool updateLogWithCRString(const std::string& text);
    // Appends printf-formatted text to any file, cut at 254 characters, and
    // mirrors it to an active log viewer.
    static bool writeDataToLogFile(const char* path, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static bool writeDataToLogFile(const std::string& path, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static bool vwriteDataToLogFile(const std::string& path, const char* format, va_list args)
        __attribute__((format(printf, 2, 0)));
    // The same log line written many times in a row appears a few times,
    // then is counted; this writes the count of a run still open ("(the line
    // above was repeated N more times)"). Another line, or a new log, closes
    // a run by itself.
    static void flushRepeatedLines();
    // Why the log at path was cut: a write to it failed (a full disk), and
    // from then on nothing more is written to it, so that it never goes on
    // after a hole. Empty while it is whole; a new log started at the path
    // is whole again.
    static std::string logCutReason(const std::string& path);
    // A blank line, 79 dashes and a blank line.
    static bool printSeparator();

    // A name the user chose (a unit path, the log's or report's path) may
    // hold a newline or another control character, which copied into a log
    // line could forge lines of its own. Every piece the logger writes shows
    // the names it has been given escaped (a newline as \n, ESC as \x1b);
    // the log's and report's paths and the unit of startLoggingOnDrive are
    // given to it on the way in. Names without control characters are left
    // alone.
    static void escapeNameInLogLines(const std::string& name);
    // text with every control character but none written as an escape.
    static std::string escapeControlCharacters(const std::string& text);

    // Gives a file the privileged process wrote back to the launching user.
    // A symbolic link at path is refused and reported.
    static bool adjustFileOwnershipOnFile(const std::string& path);

    // The log viewer; with none installed or none active no viewer call is
    // made. The logger keeps the viewer alive until it is replaced.
    static void setLogViewerController(std::shared_ptr<LogViewerSink> viewer);
    static std::shared_ptr<LogViewerSink> logViewerController();

    static std::string versionString();
    static std::string userDir();
    static void setUserDir(const std::string& value);
    static std::string tolvarinDir();
    // Derived from userDir.
    static void setTolvarinDir();
    static std::string documentDir();
    // Derived from userDir.
    static void setDocumentDir();
    static std::string currentTimeStamp();
    // A fresh month-day-year-hour-minute-second stamp.
    static void setCurrentTimeStamp();
    static std::string logFileNameAndPath();
    // The log path in the form the scan engine's C-style writers take; it
    // always names the same file as logFileNameAndPath.
    static std::string charLogFileNameAndPath();
    static void setCharLogFileNameAndPath();
    static std::string reportFileNameAndPath();
    static std::string filePrefix();
    static void setFilePrefix(const std::string& value);
    static std::string CUserID();
    static void setCUserID(const std::string& value);
    static std::string CGroupID();
    static void setCGroupID(const std::string& value);
    static std::string currentDataFile();
    static void setCurrentDataFile(const std::string& value);
    static std::string typeOfTest();
    static void setTypeOfTest(const std::string& value);
    static std::string volumeOrDiskID();
    static void setVolumeOrDiskID(const std::string& value);
    static std::string smartStatus();
    static void setSmartStatus(const std::string& value);
    static std::string sizingScanStatus();
    static void setSizingScanStatus(const std::string& value);
    static std::string surfaceScanStatus();
    static void setSurfaceScanStatus(const std::string& value);
    static std::string seekScanStatus();
    static void setSeekScanStatus(const std::string& value);

    static int surfaceErrors();
    static void setSurfaceErrors(int value);
    static int surfaceOddities();
    static void setSurfaceOddities(int value);
    static int seekErrors();
    static void setSeekErrors(int value);
    static int seekOddities();
    static void setSeekOddities(int value);
    static int totalErrors();
    static void setTotalErrors(int value);
    static int totalOddities();
    static void setTotalOddities(int value);
    static int confirmedSurfaceOddities();
    static void setConfirmedSurfaceOddities(int value);
    static int confirmedSeekOddities();
    static void setConfirmedSeekOddities(int value);
    static int sizingScanErrors();
    static void setSizingScanErrors(int value);

    static double initialRPISSLIN();
    static void setInitialRPISSLIN(double value);
    static double initialRPISSRAT();
    static void setInitialRPISSRAT(double value);
    static double initialRPISKLIN();
    static void setInitialRPISKLIN(double value);
    static double initialRPISKRAT();
    static void setInitialRPISKRAT(double value);
    static double currentRPISSLIN();
    static void setCurrentRPISSLIN(double value);
    static double currentRPISSRAT();
    static void setCurrentRPISSRAT(double value);
    static double currentRPISKLIN();
    static void setCurrentRPISKLIN(double value);
    static double currentRPISKRAT();
    static void setCurrentRPISKRAT(double value);

    static bool isInitialScan();
    static void setIsInitialScan(bool value);
    static std::string dateOfCompletion();
    // Stores the printable time stamp of now.
    static void setDateOfCompletion();
    static bool viewWindowActive();
    static void setViewWindowActive(bool value);
    static int logViewCount();
    static void setLogViewCount(int value);

    // The clock of the time stamps (the hub's); it must outlive its use.
    static void setClock(const Clock& clock);

    // Back to the state before initialisation, viewer removed, the
    // process's own clock.
    static void resetForTests();
};

// Appends printf-formatted text, cut at 254 characters, to a data file; the
// same as Logger::writeDataToLogFile without the log viewer.
bool writeData(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool writeData(const std::string& path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

} // namespace tolvarin
