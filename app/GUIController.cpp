#include "app/GUIController.h"

#include "app/TestControl.h"
#include "base/TextFormat.h"
#include "engine/ReportWriter.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/LaunchingUser.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "platform/SystemServices.h"
#include "report/Pictures.h"
#include "report/TestReport.h"
#include "store/DriveProcessor.h"
#include "store/Quarrykit.h"

#include <cerrno>
#include <sys/resource.h>
#include <utility>

namespace tolvarin {

namespace {

// The priority the program asks for so that timed reads are not delayed by
// other work on the machine.
constexpr int kTestPriority = -15;

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

GUIController::GUIController(GUIView& view, Env& env, std::unique_ptr<SystemServices> services)
    : GUIController(view, loadedPreferences(), env, std::move(services)) {}

GUIController::GUIController(GUIView& view, const Preferences& preferences, Env& env,
                             std::unique_ptr<SystemServices> services)
    : view_(view), env_(env), mainThread_([&view] { view.wakeMainThread(); }),
      systemServices_(services ? std::move(services) : SystemServices::forThisSystem(env)),
      services_(std::make_unique<ServiceGuard>(view, env, *systemServices_)), buttons_(view),
      progress_(
          std::make_unique<ProgressBoard>(view, env, static_cast<ProgressBoard::Owner&>(*this))),
      reportWriter_(std::make_unique<TestReport>(env)) {
    System::consoleLog("Initializing.");
    Logger::setClock(env_);

    NotificationCenter& note = progress_->note();
    observers_.push_back(
        note.addObserver("UpdateTestStatusWindow",
                         [this](const std::string&, const void*) { view_.testStatsChanged(); }));
    // The preferences window posts its five values as a map of key to value.
    observers_.push_back(
        note.addObserver("UpdatePreferences", [this](const std::string&, const void* object) {
            if (object != nullptr) {
                updatePreferences(*static_cast<const std::map<std::string, int>*>(object));
            }
        }));

    control_ = std::make_unique<TestControl>(*this);
    diagnostics_ = std::make_unique<DiagnosticsControl>(*this);
    scanController_ = std::make_unique<ScanController>(*progress_);
    progress_->setLiveSurfaceMap(scanController_->recorder().liveMap());
    scanController_->setCursoryScanBody([this](ScanController& c) { control_->runCursoryTest(c); });
    scanController_->setFormalScanBody([this](ScanController& c) { control_->runNormalTest(c); });

    LaunchingUser user = LaunchingUser::current();
    uid_ = user.uid;
    gid_ = user.gid;
    {
        std::lock_guard<std::mutex> lock(userMutex_);
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
    closing_.store(true);
    // Questions asked from now on take their safe answers: nobody is left
    // to ask.
    std::shared_ptr<AlertAnswerer> answerer = MessageCenter::answerer();
    MessageCenter::setAnswerer(nullptr);
    control_->stopForQuit();
    diagnostics_->stopForQuit();
    // The scan thread reaches the spinners, the view and this thread: wait
    // for its end while doing what it hands this thread.
    waitForTestEnd();
    for (NotificationCenter::Token token : observers_) {
        progress_->note().removeObserver(token);
    }
    progress_->stopSpinners();
    scanController_.reset();
    if (!MessageCenter::answerer()) {
        MessageCenter::setAnswerer(answerer);
    }
}

void GUIController::awakeFromNib() {
    LaunchingUser user = LaunchingUser::current();
    std::string home = Paths::homeDirectory();
    std::string os = System::releaseName(System::kernelRelease());
    {
        std::lock_guard<std::mutex> lock(userMutex_);
        userHomeDir_ = home;
        userName_ = user.userName;
        OSString_ = os;
    }
    System::consoleLog("Short User Name: " + user.userName);
    System::consoleLog("Full User Name: " + user.userName);
    System::consoleLog("User Home Dir: " + home);
    System::consoleLog("OS Type: " + os);
    Logger::initWithUserDir(home);
    buttons_.apply(ButtonTable::Event::launchComplete);
}

// --- selection and options -------------------------------------------------------

void GUIController::selectUnit(const Media& media) {
    if (!underTest()) {
        buttons_.apply(ButtonTable::Event::rowSelected);
    }
    if (!buttonEnabled(GUIButton::cursoryStopScan) && !buttonEnabled(GUIButton::normalStopScan)) {
        progress_->zeroResults();
        if (!diagnostics_->threadRunning()) {
            diagnostics_->zeroResults();
        }
    }
    view_.showUnitInfo(selection_.select(media));
    if (!underTest()) {
        if (media.isPrimaryDisk()) {
            view_.showUnitUnderTest("Primary Drive " + media.primaryDiskID(),
                                    media.primaryDiskID());
        } else {
            view_.showUnitUnderTest(media.volumeName(), media.volumeDiskID());
        }
    }
}

void GUIController::cursoryOptionsButtonSelected() {
    cursory_.opened();
    buttons_.apply(ButtonTable::Event::cursoryOptionsOpened);
}

void GUIController::cursoryOptionsCancelled() {
    buttons_.apply(ButtonTable::Event::cursoryOptionsCancelled);
}

bool GUIController::confirmCursoryOptions(const CursoryChoice& choice) {
    buttons_.set(GUIButton::cursoryOptionsButton, true);
    if (!cursory_.confirm(choice, selection_.targetSize())) {
        return false;
    }
    buttons_.apply(ButtonTable::Event::cursoryOptionsConfirmed);
    cursory_.print();
    return true;
}

// --- buttons -------------------------------------------------------------------

bool GUIController::normalStartButtonSelected() {
    return !refuseWhileDiagnosticsRun() && control_->startButtonSelected(true);
}

bool GUIController::cursoryStartButtonSelected() {
    return !refuseWhileDiagnosticsRun() && control_->startButtonSelected(false);
}

bool GUIController::refuseWhileDiagnosticsRun() {
    if (!diagnostics_->threadRunning()) {
        return false;
    }
    MessageCenter::generateAlertDialogWithNumber(DiagnosticsControl::kDiagnosticsRunningMessage);
    return true;
}

void GUIController::normalPauseButtonSelected() {
    control_->pauseButtonSelected(true);
}

void GUIController::cursoryPauseButtonSelected() {
    control_->pauseButtonSelected(false);
}

void GUIController::normalStopButtonSelected() {
    control_->stopButtonSelected(true);
}

void GUIController::cursoryStopButtonSelected() {
    control_->stopButtonSelected(false);
}

// --- the test ------------------------------------------------------------------

bool GUIController::testRunning() const {
    return scanController_ && scanController_->scanThreadRunning();
}

std::string GUIController::startProblem() const {
    return control_->startProblem();
}

void GUIController::waitForTestEnd() {
    mainThread_.serviceUntil(
        [this] { return !scanController_->scanThreadRunning() && !diagnostics_->threadRunning(); });
    // They have ended: the joins only collect them.
    scanController_->joinScanThread();
    diagnostics_->joinThread();
}

TestResults GUIController::testResults() const {
    return scanController_->results();
}

std::string GUIController::logFile() const {
    return Logger::logFileNameAndPath();
}

UnitHistory GUIController::unitHistory() const {
    return UnitHistory::of(Logger::tolvarinDir(), selection_.targetDriveInfo());
}

TrendPicture GUIController::unitTrend() const {
    UnitHistory history = unitHistory();
    TrendPicture trend = Pictures::trendOf(history.entries);
    if (history.filePrefix.empty()) {
        trend.notes.push_back("The unit has no stored tests yet: a normal test stores them.");
    }
    return trend;
}

bool GUIController::writeSurfaceMapPicture(const std::string& path, std::string* why) const {
    std::shared_ptr<const TestMeasurements> m = testResults().measurements;
    if (!m || !m->surfaceScanned) {
        if (why != nullptr) {
            *why = "the test measured no surface map";
        }
        return false;
    }
    return Pictures::writeSurfaceMap(*m, path, why);
}

// --- ScanHost's owner ------------------------------------------------------------

ScanOptions GUIController::scanOptions() const {
    ScanOptions o;
    o.normalScan = normalScan();
    o.probeInto = probeInto();
    o.attemptToRepairBadSectors = cursory_.attemptToRepairBadSectors();
    o.doSurfaceScan = cursory_.doSurfaceScan();
    o.doSeekScan = cursory_.doSeekScan();
    o.cursoryLimitedScanSelected = cursory_.cursoryLimitedScanSelected();
    o.limitedCursoryScanStartByte = cursory_.limitedCursoryScanStartByte();
    o.limitedCursoryScanEndByte = cursory_.limitedCursoryScanEndByte();
    o.queueDepth = o.normalScan ? 1 : cursory_.queueDepth();
    return o;
}

void GUIController::resetButtons() {
    buttons_.apply(ButtonTable::Event::resetButtons);
    progress_->setUnderTest(false);
}

void GUIController::resumeTest(bool normal) {
    progress_->setUnderTest(true);
    buttons_.apply(normal ? ButtonTable::Event::resumeFormalTest
                          : ButtonTable::Event::resumeCursoryTest);
}

void GUIController::enableSystemItemsFromScanController() {
    performOnMainThreadAndWait([this] { enableSystemItems(); });
}

// --- settings and services -------------------------------------------------------

void GUIController::disableSystemItems() {
    // Drive sleep belongs to the whole disk.
    Media unit = selection_.data();
    services_->disableSystemItems(Paths::rawDevicePathForIdentifier(
        unit.primaryDiskID().empty() ? unit.volumeDiskID() : unit.primaryDiskID()));
}

void GUIController::enableSystemItems() {
    services_->enableSystemItems();
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
    apply(Preferences::indexingControl, [this](int v) { services_->setUnloadMDS(v == 1); });
    apply(Preferences::disableTimeMachine, [this](int v) { services_->setDisableTM(v == 1); });
    apply(Preferences::disablePowerManagement,
          [this](int v) { services_->setDisableDriveSleep(v == 1); });
}

// --- main thread and the end -------------------------------------------------------

void GUIController::setAnswerer(std::shared_ptr<AlertAnswerer> answerer) {
    MessageCenter::setAnswerer(std::move(answerer));
}

void GUIController::performOnMainThreadAndWait(const std::function<void()>& work) {
    mainThread_.performAndWait(work);
}

void GUIController::endProgram(int status) {
    // On the calling thread: the main thread may itself be waiting for an
    // answer from this one.
    enableSystemItems();
    env_.exitProcess(status);
}

// --- collaborators -------------------------------------------------------------

void GUIController::setDeviceOpener(DeviceOpener opener) {
    if (opener) {
        diagnostics_->setDeviceOpener(
            [opener](const std::string& path) { return opener(path, false); });
    } else {
        diagnostics_->setDeviceOpener(nullptr);
    }
    scanController_->setDeviceOpener(std::move(opener));
}

void GUIController::setQuarrykit(std::shared_ptr<Quarrykit> quarrykit) {
    std::lock_guard<std::mutex> lock(collaboratorsMutex_);
    quarrykit_ = std::move(quarrykit);
}

std::shared_ptr<Quarrykit> GUIController::quarrykit() const {
    std::lock_guard<std::mutex> lock(collaboratorsMutex_);
    return quarrykit_;
}

std::shared_ptr<DriveProcessor> GUIController::driveProcessor() const {
    std::lock_guard<std::mutex> lock(collaboratorsMutex_);
    return driveProcessor_;
}

void GUIController::setDriveProcessor(std::shared_ptr<DriveProcessor> drives) {
    std::lock_guard<std::mutex> lock(collaboratorsMutex_);
    driveProcessor_ = std::move(drives);
}

// --- the user ------------------------------------------------------------------

std::string GUIController::userName() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return userName_;
}

std::string GUIController::userHomeDir() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return userHomeDir_;
}

std::string GUIController::CUserID() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return CUserID_;
}

std::string GUIController::CGroupID() const {
    std::lock_guard<std::mutex> lock(userMutex_);
    return CGroupID_;
}

} // namespace tolvarin
