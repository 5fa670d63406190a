#include "report/ReportGenerator.h"

#include "base/Clock.h"
#include "base/TestResults.h"
#include "logging/Logger.h"
#include "platform/Env.h"
#include "platform/LaunchingUser.h"
#include "platform/Paths.h"
#include "platform/ProcessRunner.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "report/Pictures.h"
#include "report/ReportPictures.h"
#include "store/DataFileFormat.h"
#include "store/PerformanceIndex.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

struct Paragraph {
    std::string_view key;
    std::string_view text;
};

// The verdict paragraphs, exactly as the report has always worded them
// (trailing blanks included: two of them are joined into one block).
constexpr std::array<Paragraph, 50> kParagraphs = {{
    {"A1", "This is an initial scan and the values for the initial and current RPI indices will be "
           "identical. "},
    {"A2", "This is a comparative scan, and the values of the current test data will be compared "
           "to those in the initial scan data set. "},
    {"B1", "The sizing scan completed without any errors. "},
    {"B2",
     "The sizing scan completed with errors. If the failures are in the initial sectors of the "
     "disk, this might lead to serious problems due to possible file system index corruption. See "
     "the log files for this test and refer to the users manual for further information. "},
    {"S1", "The initial surface scan test passed. The initial linear surface scan RPI has an "
           "acceptable value. "},
    {"S2",
     "The initial surface scan test passed but the initial surface scan linear RPI has an "
     "abnormally high value. This may indicate the unit is abnormally slow, there's a hardware "
     "problem developing with the system, or the test has been conducted improperly."},
    {"S3", "The initial surface scan ratio RPI has an acceptable value. "},
    {"S4", "The initial surface scan ratio RPI has an abnormally high value. This implies that "
           "regions of the disk are taking considerably more time responding than others, which "
           "may imply the drive is in the process of developing problems. "},
    {"S5",
     "The initial surface scan test failed. The linear surface scan RPI has an acceptable value. "
     "This usually implies a unit has damage, but it typically isn't  widespread. All data on this "
     "unit should be backed up and the drive should be re-formatted using the \"Zero Out Data\" "
     "option (recommended) or an attempt can be made at repairing it with Tolvarin operating in "
     "the cursory mode. Please refer to the users manual for details. "},
    {"S6",
     "The initial surface scan test failed. The linear surface scan RPI has an abnormally high "
     "value. This is typical of a drive that has developed or is in the process of developing "
     "problems.  All data on this unit should be backed up and the drive should be re-formatted "
     "using the \"Zero Out Data\" option (recommended) or an attempt can be made at repairing it "
     "with Tolvarin operating in the cursory mode. Please refer to the users manual for details. "},
    {"S7", "The initial surface scan ratio RPI has an acceptable value, which on a failed test "
           "usually implies the problems on the drive are not extensive. "},
    {"S8", "The initial surface scan ratio RPI has an abnormally high value. This implies that the "
           "response times of some regions of the disk are taking considerably more time "
           "responding than others, which is typical for a drive having problems.  "},
    {"C1", "The surface scan test passed with both the current and initial surface scan linear RPI "
           "values showing no significant change. This implies the drive is functioning in the "
           "same manner as it was when the initial tests were performed. "},
    {"C2", "The surface scan passed, however a comparison of the initial and current linear RPI "
           "values shows a marked degradation. This may indicate that the unit is in the process "
           "of developing problems. "},
    {"C3", "The surface scan passed, however a comparison of the initial and current surface scan "
           "linear RPI values indicates a significant difference, with the RPI associated with the "
           "initial scan being abnormally high. This can be caused by the initial tests being done "
           "improperly, but it might also indicate a potential problem with the hardware in the "
           "system. Please refer to the users manual for more information. "},
    {"C4", "The surface scan ratio RPIs are both within acceptable limits. "},
    {"C5", "The surface scan ratio RPI for the current test is abnormally high. This indicates "
           "that at least one section of the drive is taking an abnormally long time to read data, "
           "and could be an indication of a developing problem. The surface scan ratio RPI for the "
           "initial scan was within normal bounds. "},
    {"C6",
     "The surface scan ratio RPI for the current test is acceptable, however the surface scan "
     "ratio RPI for the initial scan is abnormally high. This can indicate that either the "
     "initials tests for this unit were done improperly, or there is possibly a hardware problem "
     "that needs addressing. Please refer to the users manual for more information. "},
    {"C7", "The surface scan ratio RPIs for both the current and initial tests are both "
           "unacceptably high. This implies either the unit is having problems, the tests are "
           "being conducted improperly, the unit under test is failing, or the unit under test is "
           "having considerable performance problems. "},
    {"C8", "The surface scan test failed, and both the initial and current surface scan linear RPI "
           "values are comparable. "},
    {"C9", "The surface scan test failed and there's a marked increase between the current linear "
           "surface scan RPI over the initial surface scan linear RPI. This implies the drive "
           "being tested is in the process of developing problems, and possibly failing. "},
    {"C10", "The surface scan test failed and the initial surface scan linear RPI is significantly "
            "higher than the current surface scan linear RPI. This can be caused by the initial "
            "tests being done improperly, but it might also indicate a potential problem with the "
            "hardware in the system. Please refer to the users manual for more information. "},
    {"C11", "Both the current and initial surface scan ratio RPI values are within acceptable "
            "ranges, even though this unit has failed a surface scan test. This implies the damage "
            "to the drive may not be extensive  (yet). "},
    {"C12", "The current surface scan ratio RPI value is abnormally high, and the initial surface "
            "scan ratio RPI is within acceptable bounds. Since this unit has failed the current "
            "surface scan test, this is to be expected, but it implies the unit has either "
            "recently developed problems or has been progressively getting worse over time. "},
    {"C13", "The current surface scan ratio RPI is within bounds, but the initial surface scan "
            "ratio RPI is out of bounds. This is an abnormal condition, considering the unit "
            "failed the current surface scan test and tends to imply that either the initial "
            "surface scan test was done improperly or the unit has hardware problems that are "
            "manifesting themselves in an abnormal or unpredictable manner. "},
    {"C14",
     "The surface scan ratio RPIs for both the current and initial tests are both unacceptably "
     "high. Since this unit has failed this test, it's assumed the unit was already in the process "
     "of failing when the initial tests were performed on the unit, or the unit never successfully "
     "passed an initial scan. Please refer to the owners manual for more information.  "},
    {"K1", "The seek scan test passed. The seek scan linear RPI has an acceptable value. "},
    {"K2", "The seek scan passed, however the seek scan linear RPI is unusually high. This might "
           "be caused by an older, slower disk with slow response times, or it could indicate a "
           "problem beginning to surface. "},
    {"K3", "The seek scan ratio RPI is within acceptable limits. "},
    {"K4", "The seek scan ratio RPI for the current test is abnormally high. This indicates that "
           "at least one section of the drive is taking an abnormally long time to seek to a "
           "position, and could be an indication of a developing problem. "},
    {"K5",
     "The seek scan test failed. The seek scan linear RPI is acceptable. This may be due to the "
     "seek scan reading a bad sector of the disk that has likely been identified in the surface "
     "scan test. If this unit passed its surface scan test, it likely means the drive is having "
     "mechanical problems which may lead to sudden and catastrophic failure. "},
    {"K6", "The seek scan test failed. The seek scan ratio RPI for the  scan is abnormally high. "
           "This is typical for a unit that failed a seek scan test. If this unit passed its "
           "surface scanning tests, this implies the unit is in the process of developing "
           "mechanical problems that may lead to sudden and catastrophic failure. "},
    {"K7", "The seek scan ratio RPI is acceptable. This typically indicates that problems already "
           "exist with the unit, or the unit is in the process of developing problems. "},
    {"K8", "The seek scan ratio RPI is abnormally high. This is typical for a unit that has fairly "
           "significant problems. "},
    {"D1", "The seek scan test passed with both the current and initial seek scan linear RPI "
           "values showing no significant change. This implies the drive is functioning in the "
           "same manner as it was when the initial tests were performed. "},
    {"D2", "The seek scan passed, however a comparison of the initial and current seek scan linear "
           "RPI values shows a marked degradation. This frequently indicates that the unit is in "
           "the process of developing problems. "},
    {"D3", "The seek scan passed, however a comparison of the initial and current seek scan linear "
           "RPI values indicates a significant difference, with the RPI associated with the "
           "initial scan being abnormally high. This can be caused by the initial tests being done "
           "improperly, but it might also indicate a potential problem with the hardware in the "
           "system. Please refer to the users manual for more information. "},
    {"D4", "The seek scan ratio RPIs are both within acceptable limits. "},
    {"D5", "The seek scan ratio RPI for the current test is abnormally high. This indicates that "
           "at least one section of the drive is taking an abnormally long time to read data, and "
           "could be an indication of a developing problem. The seek scan ratio RPI for the "
           "initial scan was within normal bounds. "},
    {"D6",
     "The seek scan ratio RPI for the current test is acceptable, however the seek scan ratio RPI "
     "for the initial scan is abnormally high. This can indicate that either the initial tests for "
     "this unit were done improperly, or there is possibly a hardware problem that needs "
     "addressing. Please refer to the users manual for more information. "},
    {"D7", "The seek scan ratio RPIs for both the current and initial scans are abnormally high. "
           "This implies that the disk has been having problems since its initial scan, the "
           "initial and possibly current tests have been conducted improperly, the drive being "
           "tested is abnormally slow, or there are other problems with the unit having a negative "
           "effect on the performance of the unit. "},
    {"D8", "The seek scan test failed, and both the initial and current seek scan linear RPI "
           "values are comparable. "},
    {"D9", "The seek scan test failed and there's a marked increase between the current seek scan "
           "linear RPI over the initial seek scan linear RPI. This implies the drive being tested "
           "is in the process of developing problems or has developed some problems since the "
           "initial scans were performed. "},
    {"D10", "The seek scan test failed and the initial seek scan linear RPI is higher than the "
            "current seek scan linear RPI. This can be caused by the initial tests being done "
            "improperly, but it might also indicate a potential problem with the hardware in the "
            "system. Please refer to the users manual for more information. "},
    {"D11", "Both the current and initial seek scan ratio RPI values are within acceptable ranges, "
            "even though this unit has failed a seek scan test. This implies the damage to the "
            "drive may not be extensive  (yet). "},
    {"D12", "The current seek scan ratio RPI value is abnormally high, and the initial seek scan "
            "ratio RPI is within acceptable bounds. Since this unit has failed the current seek "
            "scan test, this is to be expected, but it implies the unit has either recently "
            "developed problems or has been progressively getting worse over time. "},
    {"D13", "The current seek scan ratio RPI is within bounds, but the initial seek scan ratio RPI "
            "is out of bounds. This is an abnormal condition, considering the unit failed the "
            "current seek scan test and tends to imply that either the initial seek scan test was "
            "done improperly or the unit has hardware problems that are manifesting themselves in "
            "an abnormal or unpredictable manner. "},
    {"D14", "The seek scan ratio RPIs for both the current and initial scans are abnormally high. "
            "Since this unit has failed its seek scan test, the problems were likely present in "
            "the initial scans, which may have failed as well, or the unit is in the process of "
            "failing and it's continuing to get worse as time progresses. "},
    {"R1", "There were no irregularities detected in this test. "},
    {"R2", "Irregularities were detected in this test. Some irregularities are caused by hardware "
           "interrupts or drive contention, which cannot be controlled by this program. Please "
           "check your log files for the location of the irregularities. If these are repeatable "
           "in subsequent tests, it could indicate a problem developing or an existing "
           "irregularity with the drive. Please refer to the users manual for more information."},
}};

// The report file is written first and opened afterwards; the pause also
// keeps the next report of a quick repeat from taking this one's stamp.
constexpr int64_t kPauseAfterReportMicros = 1000000;

std::string formatInt(int value) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%d", value);
    return buffer;
}

bool hasDesktop() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

std::mutex& failureMutex() {
    static std::mutex m;
    return m;
}
std::string& lastFailure() {
    static std::string why;
    return why;
}

void reportFailure(const std::string& why) {
    {
        std::lock_guard<std::mutex> lock(failureMutex());
        lastFailure() = why;
    }
    System::consoleLog("No report was written: " + why);
    Logger::updateLog("The test report could not be written: " + why);
}

void appendUnicodeEscape(std::string& out, unsigned unit) {
    // RTF numbers \u as a signed 16-bit value; "?" is what readers without
    // Unicode show instead.
    int value = static_cast<int>(unit);
    if (value > 32767) {
        value -= 65536;
    }
    out += "\\u" + std::to_string(value) + "?";
}

void appendCodePoint(std::string& out, uint32_t cp) {
    if (cp < 0x10000) {
        appendUnicodeEscape(out, cp);
        return;
    }
    cp -= 0x10000;
    appendUnicodeEscape(out, 0xD800 + (cp >> 10));
    appendUnicodeEscape(out, 0xDC00 + (cp & 0x3FF));
}

// Decodes one UTF-8 sequence at text[i]; answers the code point and advances
// i, or answers U+FFFD and advances one byte for anything malformed
// (overlong forms, surrogates and values past U+10FFFF included).
uint32_t decodeUtf8(std::string_view text, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    int length = 0;
    uint32_t cp = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + static_cast<size_t>(length) > text.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k < length; ++k) {
        unsigned char next = byte(i + static_cast<size_t>(k));
        if ((next & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += static_cast<size_t>(length);
    return cp;
}

} // namespace

std::string ReportGenerator::templatePath() {
    return Paths::sharedResourcesDirectory() + "/ResultsTemplate.rtf";
}

std::string ReportGenerator::lastProblem() {
    std::lock_guard<std::mutex> lock(failureMutex());
    return lastFailure();
}

bool ReportGenerator::generateReport(const TestResults& results, const Clock& clock) {
    {
        std::lock_guard<std::mutex> lock(failureMutex());
        lastFailure().clear();
    }
    Logger::setSurfaceScanStatus(resultWord(results.surfaceErrors, results.surfaceIrregularities));
    Logger::setSeekScanStatus(resultWord(results.seekErrors, results.seekIrregularities));

    // The template is read before a report is named, so that the log never
    // points at a report that was not written.
    std::string source = templatePath();
    std::string error;
    std::optional<std::string> templateText = SafeFile::read(source, &error);
    if (!templateText) {
        reportFailure("the report template could not be read (" + error + ").");
        return false;
    }

    if (Logger::documentDir().empty()) {
        reportFailure("no Documents folder is known.");
        return false;
    }
    if (System::isPrivileged()) {
        std::string link = SafeFile::linkBelow(Logger::userDir(), Logger::documentDir());
        if (!link.empty()) {
            reportFailure(link + " is a symbolic link, which is not followed with root rights.");
            return false;
        }
    }
    Logger::setDateOfCompletion();
    Inputs in = inputsFor(results);
    char line[64];
    std::snprintf(line, sizeof(line), "initialRPISSLIN is: %f", in.initialRPISSLIN);
    System::consoleLog(line);

    std::string report = fillTemplate(*templateText, placeholderValues(in));
    if (results.measurements) {
        // The pictures follow the designed text on a page of their own.
        std::string unavailable;
        PictureRenderer* pictures = Pictures::renderer(&unavailable);
        report = ReportPictures::withAppendix(
            report, ReportPictures::appendix(results.measurements.get(), pictures, unavailable));
    }
    // Documents may be missing in a fresh home; a failure here shows as the
    // create error below.
    SafeFile::makeDirectories(Logger::documentDir());
    // A new file only: whatever already stands at the path, a planted link
    // included, is left as it is, and the next free name is taken (named
    // again should one be taken between the look and the create).
    std::string reportPath;
    UniqueFd fd;
    for (int attempt = 0; attempt < 3 && !fd; ++attempt) {
        Logger::setReportFileNameAndPath();
        reportPath = Logger::reportFileNameAndPath();
        fd = SafeFile::createExclusive(reportPath, &error);
        struct stat st {};
        if (!fd && ::lstat(reportPath.c_str(), &st) != 0) {
            break; // not taken: a reason no other name mends
        }
    }
    if (!fd) {
        Logger::clearReportFileNameAndPath();
        reportFailure(error + ".");
        return false;
    }
    if (!SafeFile::writeAll(fd.get(), report, &error)) {
        fd.reset();
        // A cut-off report would not open; the file is the one just created.
        ::unlink(reportPath.c_str());
        Logger::clearReportFileNameAndPath();
        reportFailure(reportPath + ": " + error + ".");
        return false;
    }
    fd.reset();
    clock.sleepMicros(kPauseAfterReportMicros);
    return true;
}

bool ReportGenerator::displayReport(Env& env) {
    auto launch = [&env](const std::string& program, const std::vector<std::string>& args) {
        std::string error;
        if (!env.launchDetached(program, args, &error)) {
            System::consoleLog("The report viewer could not be started: " + error);
            return false;
        }
        return true;
    };
    std::string path = Logger::reportFileNameAndPath();
    if (path.empty() || !hasDesktop()) {
        return false;
    }
    // A viewer started with root rights would run as root on the user's
    // desktop; it is started as the launching user instead.
    if (System::isPrivileged()) {
        LaunchingUser user = LaunchingUser::current();
        if (user.uid != 0 && !user.userName.empty()) {
            return launch("runuser", {"-u", user.userName, "--", "xdg-open", path});
        }
    }
    return launch("xdg-open", {path});
}

ReportGenerator::Inputs ReportGenerator::inputsFor(const TestResults& r) {
    Inputs in;
    in.totalErrors = r.totalErrors;
    in.totalOddities = r.totalIrregularities;
    in.surfaceErrors = r.surfaceErrors;
    in.surfaceOddities = r.surfaceIrregularities;
    in.seekErrors = r.seekErrors;
    in.seekOddities = r.seekIrregularities;
    in.sizingScanErrors = r.sizingErrors;
    in.sizingScanStatus = Logger::sizingScanStatus();
    in.surfaceScanStatus = Logger::surfaceScanStatus();
    in.seekScanStatus = Logger::seekScanStatus();
    in.typeOfTest = Logger::typeOfTest();
    in.volumeOrDiskID = Logger::volumeOrDiskID();
    in.smartStatus = Logger::smartStatus();
    in.dateOfCompletion = Logger::dateOfCompletion();
    in.isInitialScan = r.initialScan;
    in.initialRPISSLIN = r.initialRPIs.surfaceLinear;
    in.initialRPISSRAT = r.initialRPIs.surfaceRatio;
    in.initialRPISKLIN = r.initialRPIs.seekLinear;
    in.initialRPISKRAT = r.initialRPIs.seekRatio;
    if (r.currentRPIs) {
        in.currentRPISSLIN = r.currentRPIs->surfaceLinear;
        in.currentRPISSRAT = r.currentRPIs->surfaceRatio;
        in.currentRPISKLIN = r.currentRPIs->seekLinear;
        in.currentRPISKRAT = r.currentRPIs->seekRatio;
    }
    return in;
}

std::string ReportGenerator::resultWord(int errors, int oddities) {
    if (errors > 0) {
        return "FAILED";
    }
    if (oddities > 0) {
        return "PASSED WITH IRREGULARITIES";
    }
    return "PASSED";
}

std::vector<std::pair<std::string, std::string>>
ReportGenerator::placeholderValues(const Inputs& in) {
    // An initial scan has no current values of its own: its current indices
    // are the initial ones.
    auto current = [&](double initial, double currentValue) {
        return formatIndex(in.isInitialScan ? initial : currentValue);
    };
    auto [surfaceLinear, surfaceRatio] = surfaceVerdictKeys(in);
    auto [seekLinear, seekRatio] = seekVerdictKeys(in);
    return {
        {"<TESTRESULTS>", resultWord(in.totalErrors, in.totalOddities)},
        {"<DATEOFCOMPLETION>", in.dateOfCompletion},
        {"<TYPEOFTEST>", in.typeOfTest},
        {"<VOLUMEORPRIMARY>", in.volumeOrDiskID},
        {"<SIZINGSCANSTATUS>", in.sizingScanStatus},
        {"<SURFACESCANSTATUS>", in.surfaceScanStatus},
        {"<SEEKSCANSTATUS>", in.seekScanStatus},
        {"<SMARTSTATUS>", in.smartStatus},
        {"<SIZINGSCANERRORS>", formatInt(in.sizingScanErrors)},
        {"<SURFACESCANERRORS>", formatInt(in.surfaceErrors)},
        {"<SURFACESCANIRREG>", formatInt(in.surfaceOddities)},
        {"<SEEKSCANERRORS>", formatInt(in.seekErrors)},
        {"<SEEKSCANIRREG>", formatInt(in.seekOddities)},
        {"<CSURFACESCANLINEARRPI>", current(in.initialRPISSLIN, in.currentRPISSLIN)},
        {"<CSURFACESCANRATIORPI>", current(in.initialRPISSRAT, in.currentRPISSRAT)},
        {"<CSEEKSCANLINEARRPI>", current(in.initialRPISKLIN, in.currentRPISKLIN)},
        {"<CSEEKSCANRATIORPI>", current(in.initialRPISKRAT, in.currentRPISKRAT)},
        {"<ISURFACESCANLINEARRPI>", formatIndex(in.initialRPISSLIN)},
        {"<ISURFACESCANRATIORPI>", formatIndex(in.initialRPISSRAT)},
        {"<ISEEKSCANLINEARRPI>", formatIndex(in.initialRPISKLIN)},
        {"<ISEEKSCANRATIORPI>", formatIndex(in.initialRPISKRAT)},
        {"<RESULTS1>", std::string(paragraph(in.isInitialScan ? "A1" : "A2"))},
        {"<RESULTS2>", std::string(paragraph(in.sizingScanErrors == 0 ? "B1" : "B2"))},
        {"<RESULTS3>", joinParagraphs(paragraph(surfaceLinear), paragraph(surfaceRatio))},
        {"<RESULTS4>", joinParagraphs(paragraph(seekLinear), paragraph(seekRatio))},
        {"<RESULTS5>", std::string(paragraph(in.totalOddities == 0 ? "R1" : "R2"))},
    };
}

std::pair<std::string_view, std::string_view>
ReportGenerator::surfaceVerdictKeys(const Inputs& in) {
    bool failed = in.surfaceErrors > 0;
    if (in.isInitialScan) {
        std::string_view linear;
        if (failed) {
            linear = in.initialRPISSLIN < kSurfaceLinearLimitFailed ? "S5" : "S6";
        } else {
            linear = in.initialRPISSLIN < kSurfaceLinearLimit ? "S1" : "S2";
        }
        bool ratioOk = in.initialRPISSRAT < kSurfaceRatioLimit;
        std::string_view ratio = failed ? (ratioOk ? "S7" : "S8") : (ratioOk ? "S3" : "S4");
        return {linear, ratio};
    }
    static constexpr std::array<std::string_view, 3> passedLinear = {"C1", "C2", "C3"};
    static constexpr std::array<std::string_view, 4> passedRatio = {"C4", "C5", "C6", "C7"};
    static constexpr std::array<std::string_view, 3> failedLinear = {"C8", "C9", "C10"};
    static constexpr std::array<std::string_view, 4> failedRatio = {"C11", "C12", "C13", "C14"};
    auto lin = static_cast<size_t>(
        PerformanceIndex::compareLINBetweenInitial(in.initialRPISSLIN, in.currentRPISSLIN));
    auto rat = static_cast<size_t>(
        PerformanceIndex::compareRATBetweenInitial(in.initialRPISSRAT, in.currentRPISSRAT));
    return failed ? std::pair{failedLinear.at(lin), failedRatio.at(rat)}
                  : std::pair{passedLinear.at(lin), passedRatio.at(rat)};
}

std::pair<std::string_view, std::string_view> ReportGenerator::seekVerdictKeys(const Inputs& in) {
    bool failed = in.seekErrors > 0;
    if (in.isInitialScan) {
        bool linearOk = in.initialRPISKLIN <= kSeekLinearLimit;
        bool ratioOk = in.initialRPISKRAT <= kSeekRatioLimit;
        if (failed) {
            return {linearOk ? "K5" : "K6", ratioOk ? "K7" : "K8"};
        }
        return {linearOk ? "K1" : "K2", ratioOk ? "K3" : "K4"};
    }
    static constexpr std::array<std::string_view, 3> passedLinear = {"D1", "D2", "D3"};
    static constexpr std::array<std::string_view, 4> passedRatio = {"D4", "D5", "D6", "D7"};
    static constexpr std::array<std::string_view, 3> failedLinear = {"D8", "D9", "D10"};
    static constexpr std::array<std::string_view, 4> failedRatio = {"D11", "D12", "D13", "D14"};
    auto lin = static_cast<size_t>(
        PerformanceIndex::compareLINBetweenInitial(in.initialRPISKLIN, in.currentRPISKLIN));
    auto rat = static_cast<size_t>(
        PerformanceIndex::compareRATBetweenInitial(in.initialRPISKRAT, in.currentRPISKRAT));
    return failed ? std::pair{failedLinear.at(lin), failedRatio.at(rat)}
                  : std::pair{passedLinear.at(lin), passedRatio.at(rat)};
}

std::string_view ReportGenerator::paragraph(std::string_view key) {
    for (const Paragraph& p : kParagraphs) {
        if (p.key == key) {
            return p.text;
        }
    }
    return {};
}

std::string ReportGenerator::joinParagraphs(std::string_view first, std::string_view second) {
    std::string out(first);
    if (!out.empty() && !second.empty() && out.back() != ' ') {
        out += ' ';
    }
    out += second;
    return out;
}

std::string ReportGenerator::formatIndex(double value) {
    if (DataFileFormat::isNotMeasured(value)) {
        return "N/A";
    }
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%f", value);
    return buffer;
}

std::string ReportGenerator::escapeRtf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            appendCodePoint(out, decodeUtf8(text, i));
            continue;
        }
        ++i;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            out += '\\';
            out += static_cast<char>(c);
            break;
        case '\n':
            out += "\\line ";
            break;
        case '\t':
            out += "\\tab ";
            break;
        default:
            if (c >= 0x20 && c != 0x7F) {
                out += static_cast<char>(c);
            }
            break;
        }
    }
    return out;
}

std::string
ReportGenerator::fillTemplate(std::string_view templateText,
                              const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<std::pair<std::string_view, std::string>> escaped;
    escaped.reserve(values.size());
    for (const auto& [name, value] : values) {
        if (!name.empty()) {
            escaped.emplace_back(name, escapeRtf(value));
        }
    }
    // One pass from left to right: a value is written out and never looked
    // at again, so text such as a volume name that happens to read like a
    // placeholder stays as it is.
    std::string out;
    out.reserve(templateText.size() + 8192);
    size_t i = 0;
    while (i < templateText.size()) {
        bool replaced = false;
        for (const auto& [name, value] : escaped) {
            if (templateText[i] == name.front() &&
                templateText.compare(i, name.size(), name) == 0) {
                out += value;
                i += name.size();
                replaced = true;
                break;
            }
        }
        if (replaced) {
            continue;
        }
        out += templateText[i];
        ++i;
    }
    return out;
}

} // namespace tolvarin
