#include "app/GUIController.h"

#include "app/Privileges.h"
#include "base/Utils.h"
#include "base/Clock.h"
#include "engine/CursoryScan.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "base/TextFormat.h"
#include "platform/LaunchingUser.h"
#include "platform/Paths.h"
#include "platform/RawDevice.h"
#include "platform/System.h"
#include "store/DriveProcessor.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <utility>

namespace tolvarin {

namespace {

constexpr int kConfirmLaunchMessage = 0;
constexpr int kNoCursoryTestMessage = 5;
constexpr int kRepairWarningMessage = 10;
constexpr int kInvalidRangeMessage = 11;
constexpr int kStartBeyondUnitMessage = 12;
constexpr int kEndBeyondUnitMessage = 13;
constexpr int kLimitWithoutSurfaceMessage = 14;
constexpr int kRangeAdjustedMessage = 2000;

// The priority the program asks for so that timed reads are not delayed by
// other work on the machine.
constexpr int kTestPriority = -15;

std::string firstWord(const std::string& text) {
    return text.substr(0, text.find(' '));
}

// A count the scan engine formatted with "%d".
int countFrom(const std::string& text) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    return end == text.c_str() ? 0 : static_cast<int>(value);
}

Preferences loadedPreferences() {
    Preferences preferences;
    std::string error;
    if (!preferences.load(&error)) {
        System::consoleLog("Preferences not read, defaults used: " + error);
    }
    return preferences;
}

void raiseProcessPriority() {
    errno = 0;
    int before = ::getpriority(PRIO_PROCESS, 0);
    System::consoleLog(formatText("PRIORITY BEFORE SETTING return value: %d", before));
    int result = ::setpriority(PRIO_PROCESS, 0, kTestPriority);
    System::consoleLog(formatText("setriority() return value: %d", result));
    errno = 0;
    int after = ::getpriority(PRIO_PROCESS, 0);
    System::consoleLog(formatText("PRIORITY AFTER SETTING return value: %d", after));
}

} // namespace

GUIController::GUIController(GUIView& view) : GUIController(view, loadedPreferences()) {}

GUIController::GUIController(GUIView& view, const Preferences& preferences) : view_(view) {
    System::consoleLog("Initializing.");

    observers_.push_back(
        note_.addObserver("UpdateTestStatusWindow",
                          [this](const std::string&, const void*) { view_.testStatsChanged(); }));
    // The preferences window posts its five values as a map of key to value.
    observers_.push_back(
        note_.addObserver("UpdatePreferences", [this](const std::string&, const void* object) {
            if (object != nullptr) {
                updatePreferences(*static_cast<const std::map<std::string, int>*>(object));
            }
        }));

    switches_.spotlight = [](const std::string& word) { return Utils::turnSpotlightOnOrOff(word); };
    switches_.timeMachine = [](const std::string& word) {
        return Utils::turnTimeMachineOnOrOff(word);
    };
    switches_.driveSleep = [](const std::string& word, const std::string& device) {
        return Utils::turnDriveSleepOnOrOff(word, device);
    };

    auto watcher = [this](GUISpinner pane) {
        return std::make_unique<StallSpinner>(
            [this] { return underTest_.load(); },
            [this, pane](bool animating) { view_.setSpinnerAnimating(pane, animating); });
    };
    spinners_[static_cast<size_t>(Spinner::normalSurface)] = watcher(GUISpinner::normal);
    spinners_[static_cast<size_t>(Spinner::normalSeek)] = watcher(GUISpinner::normal);
    spinners_[static_cast<size_t>(Spinner::cursorySurface)] = watcher(GUISpinner::cursory);
    spinners_[static_cast<size_t>(Spinner::cursorySeek)] = watcher(GUISpinner::cursory);
    spinners_[static_cast<size_t>(Spinner::diagnosticsSurface)] = watcher(GUISpinner::diagnostics);
    spinners_[static_cast<size_t>(Spinner::diagnosticsSeek)] = watcher(GUISpinner::diagnostics);

    scanController_ = std::make_unique<ScanController>(*this);
    scanController_->setCursoryScanBody([this](ScanController& c) { runCursoryTest(c); });
    scanController_->setFormalScanBody([this](ScanController& c) { runNormalTest(c); });

    LaunchingUser user = LaunchingUser::current();
    uid_ = user.uid;
    gid_ = user.gid;
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        CUserID_ = user.userName;
        CGroupID_ = user.groupName;
    }
    Logger::setCUserID(user.userName);
    Logger::setCGroupID(user.groupName);
    System::consoleLog("CUserID: " + user.userName);
    System::consoleLog("CGroupID: " + user.groupName);

    updatePreferences(preferences.dictionary());

    raiseProcessPriority();
    System::consoleLog("Initialization complete.");
}

GUIController::~GUIController() {
    for (NotificationCenter::Token token : observers_) {
        note_.removeObserver(token);
    }
    // The scan thread reaches the spinners and the view: it ends first.
    scanController_->joinScanThread();
    for (auto& s : spinners_) {
        s->stop();
    }
    scanController_.reset();
}

void GUIController::awakeFromNib() {
    LaunchingUser user = LaunchingUser::current();
    std::string home = Paths::homeDirectory();
    std::string os = System::releaseName(System::kernelRelease());
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        userHomeDir_ = home;
        userName_ = user.userName;
        fullUserName_ = user.userName;
        OSString_ = os;
    }
    System::consoleLog("Short User Name: " + user.userName);
    System::consoleLog("Full User Name: " + user.userName);
    System::consoleLog("User Home Dir: " + home);
    System::consoleLog("OS Type: " + os);
    Logger::initWithUserDir(home);
    applyButtons(ButtonTable::Event::launchComplete);
}

// --- drive table and selection -------------------------------------------------

void GUIController::setCurrentMediaArray(std::vector<Media> media) {
    std::lock_guard<std::mutex> lock(textMutex_);
    currentMediaArray_ = std::move(media);
}

std::vector<Media> GUIController::currentMediaArray() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return currentMediaArray_;
}

std::string GUIController::rowTitleFor(const Media& media) {
    if (media.isPrimaryDisk()) {
        return "Primary Drive " + media.primaryDiskID();
    }
    return media.volumeName();
}

std::vector<std::string> GUIController::targetDriveInfoFor(const Media& unit,
                                                           const std::vector<Media>& media) {
    auto volumeLine = [](const Media& volume) {
        std::string uuid = volume.UUID().empty() ? "EMPTY" : volume.UUID();
        std::string part = Utils::modifyString(volume.volumeDiskID(), volume.primaryDiskID(), "");
        return "UUID:" + uuid + " PART:" + part + " SIZE:" + volume.volumePartitionSize();
    };
    std::vector<std::string> info;
    if (!unit.isPrimaryDisk()) {
        info.push_back("volume:" + firstWord(unit.volumePartitionSize()));
        info.push_back(volumeLine(unit));
        return info;
    }
    info.push_back("disk:" + firstWord(unit.primaryDiskSize()));
    for (const Media& m : media) {
        if (!m.isPrimaryDisk() && m.primaryDiskID() == unit.primaryDiskID()) {
            info.push_back(volumeLine(m));
        }
    }
    if (info.size() == 1) {
        // A disk without volumes is known by its own identity line, in the
        // form its drive header keeps (from "UUID:" on).
        std::string identity = DriveProcessor::diskIdentityLine(unit);
        std::size_t at = identity.find("UUID:");
        info.push_back(at == std::string::npos ? identity : identity.substr(at));
    }
    return info;
}

std::optional<int64_t> GUIController::sizeFromText(const std::string& sizeText) {
    std::size_t blank = sizeText.find(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    std::string unit = sizeText.substr(blank + 1);
    // PB is beyond what the size texts once reached; without it a unit of
    // that size would keep the size of whatever was selected before.
    static const std::pair<const char*, double> multipliers[] = {
        {"KB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12}, {"PB", 1e15}};
    for (const auto& [name, factor] : multipliers) {
        if (unit.starts_with(name)) {
            std::string number =
                Utils::deleteSubstringFromString(sizeText, std::string(" ") + name);
            char* end = nullptr;
            errno = 0;
            double value = std::strtod(number.c_str(), &end);
            if (end == number.c_str() || errno != 0 || !std::isfinite(value) || value < 0 ||
                value * factor >= 9.2e18) {
                return std::nullopt;
            }
            return static_cast<int64_t>(value * factor);
        }
    }
    return std::nullopt;
}

void GUIController::setTargetSize(const std::string& sizeText) {
    if (std::optional<int64_t> size = sizeFromText(sizeText)) {
        targetSize_.store(*size);
    } else {
        System::consoleLog("Size text not understood, target size kept: \"" + sizeText + "\"");
    }
}

void GUIController::selectUnit(const Media& media) {
    if (!underTest_.load()) {
        applyButtons(ButtonTable::Event::rowSelected);
    }
    std::vector<Media> all = currentMediaArray();
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        selectedItem_ = rowTitleFor(media);
        targetDriveInfo_.clear();
    }
    if (!buttonEnabled(GUIButton::cursoryStopScan) && !buttonEnabled(GUIButton::normalStopScan)) {
        zeroResults();
    }
    std::string identifier = media.isPrimaryDisk() ? media.primaryDiskID() : media.volumeDiskID();
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        rawTargetDevice_ = Paths::rawDevicePathForIdentifier(identifier);
        targetDriveInfo_ = targetDriveInfoFor(media, all);
        data_ = media;
    }

    std::vector<std::pair<std::string, std::string>> info;
    if (media.isPrimaryDisk()) {
        info = {{"Primary Disk ID:", media.primaryDiskID()},
                {"Primary Disk Size:", media.primaryDiskSize()},
                {"Partition Scheme:", media.primaryDiskPartitionType()},
                {"Interface Type:", media.interfaceType()},
                {"Internally Connected:", media.isInternal()},
                {"SMART Status:", media.SMARTStatus()}};
    } else {
        info = {{"Volume Name:", media.volumeName()},
                {"Volume Size:", media.volumePartitionSize()},
                {"Volume Free Space:", media.volumePartitionFreeSpace()},
                {"Volume Identifier:", media.volumeDiskID()},
                {"Volume Type:", media.volumePartitionType()},
                {"SMART Status:", media.SMARTStatus()}};
    }
    view_.showUnitInfo(info);
    // A size text that cannot be read must not leave the previous unit's
    // size behind: the limited range is checked against it.
    targetSize_.store(0);
    setTargetSize(media.isPrimaryDisk() ? media.primaryDiskSize() : media.volumePartitionSize());

    if (!underTest_.load()) {
        if (media.isPrimaryDisk()) {
            view_.showUnitUnderTest("Primary Drive " + media.primaryDiskID(),
                                    media.primaryDiskID());
        } else {
            view_.showUnitUnderTest(media.volumeName(), media.volumeDiskID());
        }
    }
}

// --- cursory options -----------------------------------------------------------

void GUIController::cursoryOptionsButtonSelected() {
    cursoryOptionsSelected_.store(true);
    attemptToRepairBadSectors_.store(false);
    applyButtons(ButtonTable::Event::cursoryOptionsOpened);
}

void GUIController::cursoryOptionsCancelled() {
    applyButtons(ButtonTable::Event::cursoryOptionsCancelled);
}

bool GUIController::confirmCursoryOptions(const CursoryChoice& choice) {
    {
        std::lock_guard<std::mutex> lock(buttonMutex_);
        buttons_[static_cast<size_t>(GUIButton::cursoryOptionsButton)] = true;
    }
    view_.setButtonEnabled(GUIButton::cursoryOptionsButton, true);

    if (choice.startGB > choice.endGB) {
        MessageCenter::generateAlertDialogWithNumber(kInvalidRangeMessage);
        return false;
    }
    const int64_t startBytes = static_cast<int64_t>(choice.startGB) * kGigabyte;
    const int64_t endBytes = static_cast<int64_t>(choice.endGB) * kGigabyte;
    setLimitedCursoryScanStartByte(choice.startGB);
    setLimitedCursoryScanEndByte(choice.endGB);

    if (choice.surface) {
        setDoSurfaceScan(true);
    } else {
        setDoSurfaceScan(false);
        setCursoryLimitedScanSelected(false);
    }
    setDoSeekScan(choice.seek);
    if (!doSeekScan() && !doSurfaceScan()) {
        MessageCenter::generateAlertDialogWithNumber(kNoCursoryTestMessage);
        return false;
    }
    if (choice.repair) {
        if (MessageCenter::generateAlertDialogWithNumber(kRepairWarningMessage) == 0) {
            return false;
        }
        setAttemptToRepairBadSectors(true);
    } else {
        setAttemptToRepairBadSectors(false);
    }
    setCursoryLimitedScanSelected(choice.limit);

    if (choice.limit) {
        const int64_t size = targetSize();
        if (startBytes > size) {
            MessageCenter::generateAlertDialogWithNumber(kStartBeyondUnitMessage);
            return false;
        }
        if (endBytes > size &&
            MessageCenter::generateAlertDialogWithNumber(kEndBeyondUnitMessage) == 0) {
            return false;
        }
        if (!doSurfaceScan()) {
            MessageCenter::generateAlertDialogWithNumber(kLimitWithoutSurfaceMessage);
            return false;
        }
        // Shown to the user only: the scan picks whole sections itself.
        int64_t start = 0;
        if (choice.startGB != 0) {
            start = (startBytes - 1) / kRangeGranularity * kRangeGranularity;
        }
        int64_t end = (endBytes / kRangeGranularity + 1) * kRangeGranularity;
        System::consoleLog(formatText("GUI says it's %lld", static_cast<long long>(endBytes)));
        if (end >= size) {
            end = size;
        }
        double startGB = static_cast<double>(start) / 1e9;
        double endGB = static_cast<double>(end) / 1e9;
        System::consoleLog(formatText("Adjusted start of cursory scan: %f GB", startGB));
        System::consoleLog(formatText("Adjusted end of cursory scan: %f GB", endGB));
        MessageCenter::setCursoryStart(startGB);
        MessageCenter::setCursoryEnd(endGB);
        if (MessageCenter::generateAlertDialogWithNumber(kRangeAdjustedMessage) == 0) {
            return false;
        }
    }
    applyButtons(ButtonTable::Event::cursoryOptionsConfirmed);
    printCursoryOptionsSettings();
    return true;
}

void GUIController::printCursoryOptionsSettings() const {
    auto yesNo = [](bool value) { return std::string(value ? "YES" : "NO"); };
    System::consoleLog(std::string(60, '-'));
    System::consoleLog("Cursory surface scan selected: " + yesNo(doSurfaceScan()));
    System::consoleLog("Cursory seek scan selected: " + yesNo(doSeekScan()));
    System::consoleLog("Cursory limited surface scan selected: " +
                       yesNo(cursoryLimitedScanSelected()));
    System::consoleLog("Attempt to repair drive: " + yesNo(attemptToRepairBadSectors()));
    System::consoleLog(formatText("Cursory limited scan start: %d", limitedCursoryScanStartByte()));
    System::consoleLog(formatText("Cursory limited scan end: %d", limitedCursoryScanEndByte()));
}

// --- buttons -------------------------------------------------------------------

bool GUIController::normalStartButtonSelected() {
    return startButtonSelected(true);
}

bool GUIController::cursoryStartButtonSelected() {
    return startButtonSelected(false);
}

bool GUIController::startButtonSelected(bool normal) {
    if (!refuseWhileATestEnds()) {
        return false;
    }
    normalScan_.store(normal);
    if (!underTest_.load()) {
        if (systemItemsLoaded_.load()) {
            disableSystemItems();
        }
        return startInitialScan();
    }
    // Paused: the same press resumes without preparing anything again.
    scanController_->setStopFlag(false);
    scanController_->setPauseFlag(false);
    applyButtons(normal ? ButtonTable::Event::normalStartAccepted
                        : ButtonTable::Event::cursoryStartAccepted);
    System::consoleLog("TARGETED DEVICE: " + rawTargetDevice());
    System::consoleLog("MATCHING DATA FILE PREFIX: " + fileNamePrefix());
    return true;
}

void GUIController::normalPauseButtonSelected() {
    pauseButtonSelected(true);
}

void GUIController::cursoryPauseButtonSelected() {
    pauseButtonSelected(false);
}

void GUIController::pauseButtonSelected(bool normal) {
    scanController_->setPauseFlag(true);
    scanController_->setStopFlag(false);
    normalScan_.store(normal);
    applyButtons(normal ? ButtonTable::Event::normalPause : ButtonTable::Event::cursoryPause);
}

void GUIController::normalStopButtonSelected() {
    normalScan_.store(true);
    underTest_.store(false);
    applyButtons(ButtonTable::Event::normalStop);
    scanController_->setStopFlag(true);
    scanController_->setPauseFlag(false);
    scanController_->stopThread();
}

void GUIController::cursoryStopButtonSelected() {
    normalScan_.store(false);
    underTest_.store(false);
    scanController_->setStopFlag(true);
    scanController_->setPauseFlag(false);
    scanController_->stopThread();
    applyButtons(ButtonTable::Event::cursoryStop);
}

bool GUIController::refuseWhileATestEnds() {
    if (underTest_.load() || !scanController_->scanThreadRunning()) {
        return true;
    }
    // A stopped test may still be asking its stop question. Starting now
    // would switch the mode it reads and prepare a new device context under
    // it; its buttons and services are its own to reset.
    setProblem("The previous test has not ended yet.");
    return false;
}

bool GUIController::refuseStart(const std::string& problem) {
    resetButtons();
    underTest_.store(false);
    // Services turned off for a test that never ran come back on now, not
    // only at the end of some later test.
    enableSystemItems();
    setProblem(problem);
    return false;
}

bool GUIController::startInitialScan() {
    const bool normal = normalScan();
    setProblem("");
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_ = TestSummary{};
        summary_.normal = normal;
    }
    if (!refuseWhileATestEnds()) {
        return false;
    }
    if (!normal && !doSurfaceScan() && !doSeekScan()) {
        MessageCenter::generateAlertDialogWithNumber(kNoCursoryTestMessage);
        return refuseStart("Neither the surface scan nor the seek scan is selected.");
    }
    if (MessageCenter::generateAlertDialogWithNumber(kConfirmLaunchMessage) == 0) {
        return refuseStart("The test was cancelled.");
    }
    Logger::setLogFileNameAndPath();
    if (!saveLogFileDialog()) {
        return refuseStart("No log file was chosen.");
    }

    Media unit = data();
    if (unit.isPrimaryDisk()) {
        Logger::setVolumeOrDiskID(unit.primaryDiskSize() +
                                  " Primary Disk, Current ID:  " + unit.primaryDiskID());
    } else {
        Logger::setVolumeOrDiskID(unit.volumePartitionSize() + " Volume Named:  " +
                                  unit.volumeName() + " , Volume ID: " + unit.volumeDiskID());
    }
    Logger::setSmartStatus(unit.SMARTStatus());
    Logger::setTypeOfTest(normal ? "Normal" : "Cursory");

    bool privileged = Privileges::acquire();
    System::consoleLog(privileged ? "setuid() succeeded" : "setuid() FAILED!!");

    bool prepared = false;
    if (normal) {
        prepared = initializeNormalScanOnDrive();
    } else {
        prepared = initializeCursoryScanOnDrive();
    }
    if (!prepared) {
        underTest_.store(false);
        // Before the rights are given up: switching services needs them.
        enableSystemItems();
        Privileges::dropTo(uid_);
        return false;
    }

    underTest_.store(true);
    zeroResults();
    scanController_->setStopFlag(false);
    scanController_->setPauseFlag(false);
    // The buttons are set before the thread starts: a short test could
    // otherwise end (and reset them) before they were set.
    applyButtons(normal ? ButtonTable::Event::normalStartAccepted
                        : ButtonTable::Event::cursoryStartAccepted);
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.started = true;
        summary_.startMicros = getTimeInLongLong();
        summary_.startStamp = getTimeStamp();
    }
    System::consoleLog("TARGETED DEVICE: " + rawTargetDevice());
    System::consoleLog("MATCHING DATA FILE PREFIX: " + fileNamePrefix());
    if (!scanController_->startScanThread()) {
        scanController_->releaseDiskContext();
        {
            std::lock_guard<std::mutex> lock(summaryMutex_);
            summary_.started = false;
        }
        return refuseStart("The scan thread could not be started.");
    }
    return true;
}

bool GUIController::saveLogFileDialog() {
    // The user browses their own folders with their own rights.
    Privileges::dropTo(uid_);
    std::string proposed = "Log" + Logger::currentTimeStamp() + ".txt";
    std::optional<std::string> chosen = view_.askLogFileName(Logger::documentDir(), proposed);
    Privileges::acquire();
    if (chosen && !chosen->empty()) {
        Logger::setUserLogFileNameAndPathWithString(*chosen);
        return true;
    }
    if (!systemItemsLoaded_.load()) {
        enableSystemItems();
    }
    return false;
}

bool GUIController::initializeCursoryScanOnDrive() {
    ScanController& controller = *scanController_;
    const std::string device = rawTargetDevice();
    const std::string prefix = fileNamePrefix();
    const Media unit = data();
    System::consoleLog("FILE PREFIX: " + prefix + " TARGET DRIVE " + device);

    auto refuse = [&](const std::string& problem) {
        controller.releaseDiskContext();
        setProblem(problem);
        resetButtons();
        return false;
    };

    controller.setSurfacePercentDone(0.0);
    controller.setSeekPercentDone(0.0);
    DiskContext& disk = controller.prepareDiskContext();
    controller.setTolvarinDir(Logger::tolvarinDir());
    controller.setRawTargetDrive(device);
    controller.setErrorLimit(errorLimit());
    controller.setFilePrefix(prefix);
    controller.setErrorCount(0);

    const std::string logPath = Logger::logFileNameAndPath();
    disk.setDataDirectory(Logger::tolvarinDir());
    disk.setFilePrefix(prefix);
    // A cut path would name another file or device.
    if (!DiskContext::copyText(disk.rawDevicePath, device)) {
        return refuse("The device path is too long: " + device);
    }
    if (!DiskContext::copyText(disk.logFilePath, logPath)) {
        return refuse("The log file path is too long: " + logPath);
    }
    controller.setHasSMART(!unit.SMARTStatus().starts_with("Not Supported"));

    Logger::setFilePrefix(prefix);
    // A cursory test writes its findings nowhere but in the log: without
    // one it would run for nothing.
    if (!Logger::startLoggingOnDrive(device, unit)) {
        return refuse("The log file cannot be written: " + logPath);
    }

    if (deviceOpener_) {
        disk.device = deviceOpener_(device, attemptToRepairBadSectors());
        // A positive stand-in for a descriptor the engine never uses itself.
        disk.fd = disk.device ? 1 : 0;
    }
    int result = disk.device || !deviceOpener_
                     ? SizingSweep::doSizingSweepWithLogFile(disk, logPath.c_str(),
                                                             attemptToRepairBadSectors())
                     : SizingSweep::kOpenFailed;
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.sizingResult = result;
        summary_.sizingErrors = disk.sizingErrors;
        summary_.detectedSize = disk.detectedSize;
    }
    if (result >= 0) {
        Logger::setSizingScanStatus("PASSED");
        Logger::setSizingScanErrors(disk.sizingErrors);
        return true;
    }
    if (result == SizingSweep::kOpenFailed) {
        MessageCenter::generateAlertDialogWithNumber(SizingSweep::messageNumberForResult(result));
        Logger::setSizingScanStatus("FAILED");
        return refuse("The unit could not be opened or read: " + device + " (see the log " +
                      logPath + ")");
    }
    Logger::setSizingScanStatus("PASSED, BUT HAD ERRORS OR IRREGULARITIES");
    Logger::setSizingScanErrors(disk.sizingErrors);
    if (MessageCenter::generateAlertDialogWithNumber(SizingSweep::messageNumberForResult(result)) ==
        0) {
        return refuse("The test was cancelled after the sizing scan.");
    }
    return true;
}

void GUIController::runCursoryTest(ScanController& controller) {
    scanThreadId_.store(std::this_thread::get_id());
    CursoryScan(controller, *this).doCursoryScanTest();
    recordTestEnd([&](TestSummary& summary) { summary.stopped = controller.stopFlag(); });
}

void GUIController::recordTestEnd(const std::function<void(TestSummary&)>& outcome) {
    // The counts as the last progress update showed them: the post-test
    // reset has cleared the context's counters by now.
    const int surfaceErrors = countFrom(totalSurfaceScanErrorsString());
    const int surfaceIrregularities = countFrom(totalSurfaceScanIrregularitiesString());
    const int seekErrors = countFrom(totalSeekScanErrorString());
    const int seekIrregularities = countFrom(totalSeekScanIrregularitiesString());
    const int totalErrors = countFrom(totalErrorsString());
    const int totalIrregularities = countFrom(totalIrregularitiesString());
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.ended = true;
        outcome(summary_);
        summary_.endMicros = getTimeInLongLong();
        summary_.endStamp = getTimeStamp();
        summary_.surfaceErrors = surfaceErrors;
        summary_.surfaceIrregularities = surfaceIrregularities;
        summary_.seekErrors = seekErrors;
        summary_.seekIrregularities = seekIrregularities;
        summary_.totalErrors = totalErrors;
        summary_.totalIrregularities = totalIrregularities;
    }
    scanThreadId_.store(std::thread::id());
    view_.testEnded();
}

void GUIController::takeDiskSnapshot() {
    const DiskContext* disk = scanController_->disk();
    if (disk == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(summaryMutex_);
    summary_.detectedSize = disk->detectedSize;
    summary_.sectionCount = disk->sectionCount;
    summary_.failedSections.clear();
    for (const ScanSection& s : disk->sections) {
        if (s.passed == 0) {
            summary_.failedSections.push_back(
                {s.index, s.start, s.end, s.errorCount, s.irregularityCount});
        }
    }
    // The limited scan computes no surface indices.
    if (summary_.surfaceCompleted && !cursoryLimitedScanSelected()) {
        summary_.surfaceLinearRPI = disk->surfaceLinearRPI;
        summary_.surfaceRatioRPI = disk->surfaceRatioRPI;
    }
    if (summary_.seekCompleted) {
        summary_.seekLinearRPI = disk->seekLinearRPI;
        summary_.seekRatioRPI = disk->seekRatioRPI;
    }
}

std::string GUIController::startProblem() const {
    return text(&GUIController::startProblem_);
}

void GUIController::setProblem(const std::string& problem) {
    setText(&GUIController::startProblem_, problem);
}

void GUIController::waitForTestEnd() {
    scanController_->joinScanThread();
}

GUIController::TestSummary GUIController::testSummary() const {
    std::lock_guard<std::mutex> lock(summaryMutex_);
    return summary_;
}

void GUIController::zeroResults() {
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        currentTestRangeString_ = " ";
        totalSurfaceScanErrorsString_ = "0";
        totalSurfaceScanIrregularitiesString_ = "0";
        totalSeekScanErrorString_ = "0";
        totalSeekScanIrregularitiesString_ = "0";
        totalErrorsString_ = "0";
        totalIrregularitiesString_ = "0";
    }
    surfacePercentage_.store(0.0);
    seekPercentage_.store(0.0);
    view_.testStatsChanged();
}

// --- system services -----------------------------------------------------------

void GUIController::setServiceSwitches(ServiceSwitches switches) {
    std::lock_guard<std::mutex> lock(serviceMutex_);
    switches_ = std::move(switches);
}

void GUIController::setDeviceOpener(DeviceOpener opener) {
    deviceOpener_ = std::move(opener);
}

void GUIController::switchServices(const std::string& onOrOff) {
    const bool off = onOrOff == "OFF";
    auto step = [&](const char* message, const std::function<void()>& flip) {
        view_.startPullDownSheetWithMessage(message);
        flip();
        clockSleepMicroseconds(kServiceSettleMicros);
        view_.endPullDownSheet();
    };
    if (unloadMDS()) {
        step(off ? "Unloading the MDS Process" : "Re-loading the MDS Process", [&] {
            if (switches_.spotlight) {
                switches_.spotlight(onOrOff);
            }
        });
    }
    if (disableTM()) {
        step(off ? "Disabling Time Machine Backups" : "Re-enabling Time Machine Backups", [&] {
            if (switches_.timeMachine) {
                switches_.timeMachine(onOrOff);
            }
        });
    }
    if (off ? disableDriveSleep() : !driveSleepDevice_.empty()) {
        if (off) {
            // Drive sleep belongs to the whole disk.
            Media unit = data();
            driveSleepDevice_ = Paths::rawDevicePathForIdentifier(
                unit.primaryDiskID().empty() ? unit.volumeDiskID() : unit.primaryDiskID());
        }
        step(off ? "Disabling Power Management Drive Sleep"
                 : "Re-enabling Power Management Drive Sleep",
             [&] {
                 if (switches_.driveSleep) {
                     switches_.driveSleep(onOrOff, driveSleepDevice_);
                 }
             });
        if (!off) {
            driveSleepDevice_.clear();
        }
    }
}

void GUIController::disableSystemItems() {
    std::lock_guard<std::mutex> lock(serviceMutex_);
    if (!systemItemsLoaded_.load()) {
        return;
    }
    switchServices("OFF");
    systemItemsLoaded_.store(false);
}

void GUIController::enableSystemItems() {
    std::lock_guard<std::mutex> lock(serviceMutex_);
    if (systemItemsLoaded_.load()) {
        return;
    }
    switchServices("ON");
    systemItemsLoaded_.store(true);
}

void GUIController::enableSystemItemsFromScanController() {
    view_.performOnMainThreadAndWait([this] { enableSystemItems(); });
}

void GUIController::updatePreferences(const std::map<std::string, int>& values) {
    auto apply = [&](const char* key, const std::function<void(int)>& set) {
        auto found = values.find(key);
        if (found != values.end()) {
            set(found->second);
        }
    };
    apply(Preferences::probeKey, [this](int v) { probeInto_.store(v == 1); });
    apply(Preferences::errorLimitKey, [this](int v) { errorLimit_.store(v); });
    apply(Preferences::indexingControl, [this](int v) { unloadMDS_.store(v == 1); });
    apply(Preferences::disableTimeMachine, [this](int v) { disableTM_.store(v == 1); });
    apply(Preferences::disablePowerManagement, [this](int v) { disableDriveSleep_.store(v == 1); });
}

// --- button states -------------------------------------------------------------

void GUIController::applyButtons(ButtonTable::Event event) {
    ButtonTable::Row row = ButtonTable::rowFor(event);
    {
        std::lock_guard<std::mutex> lock(buttonMutex_);
        for (size_t i = 0; i < row.size(); ++i) {
            if (row[i]) {
                buttons_[i] = *row[i];
            }
        }
    }
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i]) {
            view_.setButtonEnabled(static_cast<GUIButton>(i), *row[i]);
        }
    }
}

bool GUIController::buttonEnabled(GUIButton button) const {
    std::lock_guard<std::mutex> lock(buttonMutex_);
    return buttons_[static_cast<size_t>(button)];
}

std::array<bool, kGUIButtonCount> GUIController::buttonStates() const {
    std::lock_guard<std::mutex> lock(buttonMutex_);
    return buttons_;
}

void GUIController::resetButtons() {
    applyButtons(ButtonTable::Event::resetButtons);
    underTest_.store(false);
    // At the end of a test the device context still holds the sections and
    // indices; it is released right after this call.
    if (std::this_thread::get_id() == scanThreadId_.load()) {
        takeDiskSnapshot();
    }
}

void GUIController::resumeFormalTest() {
    underTest_.store(true);
    applyButtons(ButtonTable::Event::resumeFormalTest);
}

void GUIController::resumeCursoryTest() {
    underTest_.store(true);
    applyButtons(ButtonTable::Event::resumeCursoryTest);
}

// --- progress ------------------------------------------------------------------

void GUIController::setText(std::string GUIController::*field, const std::string& value) {
    std::lock_guard<std::mutex> lock(textMutex_);
    this->*field = value;
}

std::string GUIController::text(std::string GUIController::*field) const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return this->*field;
}

void GUIController::setDeviceBeingTestedString(const std::string& value) {
    setText(&GUIController::deviceBeingTestedString_, value);
}

void GUIController::setTypeOfTestString(const std::string& value) {
    setText(&GUIController::typeOfTestString_, value);
    std::lock_guard<std::mutex> lock(summaryMutex_);
    if (!summary_.started) {
        return;
    }
    if (value == "Surface Scan" && summary_.surfaceStartMicros == 0) {
        summary_.surfaceStartMicros = getTimeInLongLong();
    } else if (value == "Seek Scan" && summary_.seekStartMicros == 0) {
        summary_.seekStartMicros = getTimeInLongLong();
    }
}

void GUIController::setCurrentTestRangeString(const std::string& value) {
    setText(&GUIController::currentTestRangeString_, value);
}

void GUIController::setTotalSurfaceScanErrorsString(const std::string& value) {
    setText(&GUIController::totalSurfaceScanErrorsString_, value);
}

void GUIController::setTotalSurfaceScanIrregularitiesString(const std::string& value) {
    setText(&GUIController::totalSurfaceScanIrregularitiesString_, value);
}

void GUIController::setTotalSeekScanErrorString(const std::string& value) {
    setText(&GUIController::totalSeekScanErrorString_, value);
}

void GUIController::setTotalSeekScanIrregularitiesString(const std::string& value) {
    setText(&GUIController::totalSeekScanIrregularitiesString_, value);
}

void GUIController::setTotalErrorsString(const std::string& value) {
    setText(&GUIController::totalErrorsString_, value);
}

void GUIController::setTotalIrregularitiesString(const std::string& value) {
    setText(&GUIController::totalIrregularitiesString_, value);
}

void GUIController::setSurfacePercentage(double fraction) {
    surfacePercentage_.store(fraction);
    if (fraction >= 1.0 && typeOfTestString() == "Surface Scan") {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.surfaceCompleted = summary_.started;
    }
}

void GUIController::setSeekPercentage(double fraction) {
    seekPercentage_.store(fraction);
    if (fraction >= 1.0 && typeOfTestString() == "Seek Scan") {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.seekCompleted = summary_.started;
    }
}

std::string GUIController::deviceBeingTestedString() const {
    return text(&GUIController::deviceBeingTestedString_);
}
std::string GUIController::typeOfTestString() const {
    return text(&GUIController::typeOfTestString_);
}
std::string GUIController::currentTestRangeString() const {
    return text(&GUIController::currentTestRangeString_);
}
std::string GUIController::totalSurfaceScanErrorsString() const {
    return text(&GUIController::totalSurfaceScanErrorsString_);
}
std::string GUIController::totalSurfaceScanIrregularitiesString() const {
    return text(&GUIController::totalSurfaceScanIrregularitiesString_);
}
std::string GUIController::totalSeekScanErrorString() const {
    return text(&GUIController::totalSeekScanErrorString_);
}
std::string GUIController::totalSeekScanIrregularitiesString() const {
    return text(&GUIController::totalSeekScanIrregularitiesString_);
}
std::string GUIController::totalErrorsString() const {
    return text(&GUIController::totalErrorsString_);
}
std::string GUIController::totalIrregularitiesString() const {
    return text(&GUIController::totalIrregularitiesString_);
}

std::string GUIController::rawTargetDevice() const {
    return text(&GUIController::rawTargetDevice_);
}
std::string GUIController::fileNamePrefix() const {
    return text(&GUIController::fileNamePrefix_);
}
std::string GUIController::selectedItem() const {
    return text(&GUIController::selectedItem_);
}
std::string GUIController::userName() const {
    return text(&GUIController::userName_);
}
std::string GUIController::userHomeDir() const {
    return text(&GUIController::userHomeDir_);
}
std::string GUIController::CUserID() const {
    return text(&GUIController::CUserID_);
}
std::string GUIController::CGroupID() const {
    return text(&GUIController::CGroupID_);
}

std::vector<std::string> GUIController::targetDriveInfo() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return targetDriveInfo_;
}

Media GUIController::data() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return data_;
}

// --- stall spinners ------------------------------------------------------------

StallSpinner& GUIController::spinner(Spinner which) {
    return *spinners_[static_cast<size_t>(which)];
}

const StallSpinner& GUIController::spinner(Spinner which) const {
    return *spinners_[static_cast<size_t>(which)];
}

int64_t GUIController::spinnerLocation(Spinner which) const {
    return spinner(which).location();
}

bool GUIController::spinnerActive(Spinner which) const {
    return spinner(which).active();
}

void GUIController::startNormalSurfaceScanSpinnerThread() {
    spinner(Spinner::normalSurface).start();
}
void GUIController::stopNormalSurfaceScanSpinnerThread() {
    spinner(Spinner::normalSurface).stop();
}
void GUIController::setNormalSurfaceScanSpinnerLocation(int64_t location) {
    spinner(Spinner::normalSurface).setLocation(location);
}
void GUIController::startNormalSeekScanSpinnerThread() {
    spinner(Spinner::normalSeek).start();
}
void GUIController::stopNormalSeekScanSpinnerThread() {
    spinner(Spinner::normalSeek).stop();
}
void GUIController::setNormalSeekScanSpinnerLocation(int64_t location) {
    spinner(Spinner::normalSeek).setLocation(location);
}
void GUIController::startCursorySurfaceScanSpinnerThread() {
    spinner(Spinner::cursorySurface).start();
}
void GUIController::stopCursorySurfaceScanSpinnerThread() {
    spinner(Spinner::cursorySurface).stop();
}
void GUIController::setCursorySurfaceScanSpinnerLocation(int64_t location) {
    spinner(Spinner::cursorySurface).setLocation(location);
}
void GUIController::startCursorySeekScanSpinnerThread() {
    spinner(Spinner::cursorySeek).start();
}
void GUIController::stopCursorySeekScanSpinnerThread() {
    spinner(Spinner::cursorySeek).stop();
}
void GUIController::setCursorySeekScanSpinnerLocation(int64_t location) {
    spinner(Spinner::cursorySeek).setLocation(location);
}
void GUIController::startDiagnosticsSurfaceScanSpinnerThread() {
    spinner(Spinner::diagnosticsSurface).start();
}
void GUIController::stopDiagnosticsSurfaceScanSpinnerThread() {
    spinner(Spinner::diagnosticsSurface).stop();
}
void GUIController::setDiagnosticsSurfaceScanSpinnerLocation(int64_t location) {
    spinner(Spinner::diagnosticsSurface).setLocation(location);
}
void GUIController::startDiagnosticsSeekScanSpinnerThread() {
    spinner(Spinner::diagnosticsSeek).start();
}
void GUIController::stopDiagnosticsSeekScanSpinnerThread() {
    spinner(Spinner::diagnosticsSeek).stop();
}
void GUIController::setDiagnosticsSeekScanSpinnerLocation(int64_t location) {
    spinner(Spinner::diagnosticsSeek).setLocation(location);
}

} // namespace tolvarin
