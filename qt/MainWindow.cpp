#include "qt/MainWindow.h"

#include "app/DriveListLoader.h"
#include "app/GUIController.h"
#include "app/StartupChecks.h"
#include "app/UserWording.h"
#include "engine/ScanController.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"
#include "qt/CursoryOptionsDialog.h"
#include "qt/DiagnosticsOptionsDialog.h"
#include "qt/DriveTable.h"
#include "qt/Icons.h"
#include "qt/LogViewer.h"
#include "qt/MainThread.h"
#include "qt/Panes.h"
#include "qt/PictureWidgets.h"
#include "qt/PreferencesWindow.h"
#include "qt/ProgressSheet.h"
#include "qt/QtAlertAnswerer.h"
#include "qt/StallIndicator.h"
#include "qt/SystemInfoWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tolvarin {

namespace {

constexpr int kNormalTab = 0;
constexpr int kRetryCloseMillis = 100;
constexpr int kCursoryTab = 1;
constexpr int kDiagnosticsTab = 2;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

MainWindow::MainWindow(QWidget* parent, Env& env)
    : QMainWindow(parent), env_(env), answerer_(std::make_shared<QtAlertAnswerer>(this)),
      table_(new DriveTable(this)), tabs_(new QTabWidget(this)),
      normalPane_(new ScanPane(true, this)), cursoryPane_(new ScanPane(false, this)),
      diagnosticsPane_(new DiagnosticsPane(this)), sheet_(new ProgressSheet(this)) {
    setWindowTitle(QStringLiteral("Tolvarin"));
    setWindowIcon(Icons::icon(Icons::Kind::application));
    setObjectName(QStringLiteral("mainWindow"));

    auto* disks = new QWidget(this);
    auto* disksLayout = new QVBoxLayout(disks);
    disksLayout->setContentsMargins(0, 0, 0, 0);
    disksLayout->addWidget(new QLabel(QStringLiteral("Disks and volumes:"), disks));
    disksLayout->addWidget(table_, 1);

    tabs_->addTab(normalPane_, QStringLiteral("Normal Test"));
    tabs_->addTab(cursoryPane_, QStringLiteral("Cursory Test"));
    tabs_->addTab(diagnosticsPane_, QStringLiteral("Diagnostics"));

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(buildInfoBox());
    rightLayout->addWidget(tabs_, 1);

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->addWidget(disks);
    layout->addWidget(right, 1);
    setCentralWidget(central);
    statusBar()->showMessage(QStringLiteral("Select a disk or volume to test."));

    redrawTimer_.setSingleShot(true);
    connect(&redrawTimer_, &QTimer::timeout, this, [this] { redrawNow(); });
    mapTimer_.setSingleShot(true);
    connect(&mapTimer_, &QTimer::timeout, this, [this] { refreshMap(); });
    endWatch_.setInterval(kEndPollMillis);
    connect(&endWatch_, &QTimer::timeout, this, [this] {
        if (!hub_->testRunning()) {
            finishQuit();
        }
    });

    hub_ = std::make_unique<GUIController>(*this, env_);
    hub_->setAnswerer(answerer_);
    MainThread::setWaiter(
        [this](const std::function<void()>& work) { hub_->performOnMainThreadAndWait(work); });
    buildMenus();
    connectButtons();
    resize(1000, 660);
}

MainWindow::~MainWindow() {
    // The scan thread has ended by now (quitting waits for it); the hub's
    // spinner watchers end with it.
    MainThread::setWaiter(nullptr);
    hub_.reset();
    if (MessageCenter::answerer() == answerer_) {
        MessageCenter::setAnswerer(nullptr);
    }
    delete logViewer_;
}

LogViewer* MainWindow::logViewer() const {
    return logViewer_;
}
PreferencesWindow* MainWindow::preferencesWindow() const {
    return preferences_;
}
SystemInfoWindow* MainWindow::systemInfoWindow() const {
    return systemInfoWindow_;
}
CursoryOptionsDialog* MainWindow::cursoryOptionsDialog() const {
    return optionsDialog_;
}
DiagnosticsOptionsDialog* MainWindow::diagnosticsOptionsDialog() const {
    return diagnosticsDialog_;
}

QWidget* MainWindow::buildInfoBox() {
    auto* box = new QGroupBox(QStringLiteral("Selected Unit"), this);
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < 6; ++i) {
        auto* caption = new QLabel(box);
        auto* value = new QLabel(box);
        caption->setObjectName(QStringLiteral("llabel%1").arg(i + 1));
        value->setObjectName(QStringLiteral("label%1").arg(i + 1));
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // As wide as the longest caption, so that the pairs do not jump
        // between a disk and a volume.
        caption->setMinimumWidth(
            caption->fontMetrics().horizontalAdvance(QStringLiteral("Internally Connected:")) + 4);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        captions_[static_cast<size_t>(i)] = caption;
        values_[static_cast<size_t>(i)] = value;
        // Three rows of two pairs.
        grid->addWidget(caption, i % 3, (i / 3) * 2);
        grid->addWidget(value, i % 3, (i / 3) * 2 + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

void MainWindow::buildMenus() {
    QMenu* program = menuBar()->addMenu(QStringLiteral("&Tolvarin"));
    QAction* preferences = program->addAction(QStringLiteral("&Preferences..."));
    preferences->setObjectName(QStringLiteral("preferencesAction"));
    preferences->setShortcut(QKeySequence::Preferences);
    connect(preferences, &QAction::triggered, this, &MainWindow::showPreferencePanel);
    QAction* reset = program->addAction(QStringLiteral("&Turn Services Back On..."));
    reset->setObjectName(QStringLiteral("resetAction"));
    connect(reset, &QAction::triggered, this, &MainWindow::resetTolvarinPreferences);
    QAction* info = program->addAction(QStringLiteral("&System Information"));
    info->setObjectName(QStringLiteral("systemInfoAction"));
    connect(info, &QAction::triggered, this, &MainWindow::showSystemInformation);
    program->addSeparator();
    QAction* quit = program->addAction(QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
    QAction* log = window->addAction(QStringLiteral("&Log Viewer"));
    log->setObjectName(QStringLiteral("logViewerAction"));
    log->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    connect(log, &QAction::triggered, this, &MainWindow::showLogViewer);
}

void MainWindow::connectButtons() {
    connect(table_, &QListWidget::currentRowChanged, this, &MainWindow::selectionChanged);
    connect(normalPane_->startButton, &QPushButton::clicked, this, [this] { startPressed(true); });
    connect(cursoryPane_->startButton, &QPushButton::clicked, this,
            [this] { startPressed(false); });
    connect(normalPane_->pauseButton, &QPushButton::clicked, this,
            [this] { hub_->normalPauseButtonSelected(); });
    connect(cursoryPane_->pauseButton, &QPushButton::clicked, this,
            [this] { hub_->cursoryPauseButtonSelected(); });
    connect(normalPane_->stopButton, &QPushButton::clicked, this,
            [this] { hub_->normalStopButtonSelected(); });
    connect(cursoryPane_->stopButton, &QPushButton::clicked, this,
            [this] { hub_->cursoryStopButtonSelected(); });
    connect(cursoryPane_->optionsButton, &QPushButton::clicked, this,
            &MainWindow::openCursoryOptions);
    connect(diagnosticsPane_->configureButton, &QPushButton::clicked, this,
            &MainWindow::openDiagnosticsOptions);
    connect(diagnosticsPane_->startButton, &QPushButton::clicked, this,
            &MainWindow::startDiagnosticsPressed);
    connect(diagnosticsPane_->stopButton, &QPushButton::clicked, this,
            [this] { hub_->stopDiagnosticsButtonPressed(); });
}

// --- start-up ----------------------------------------------------------------

bool MainWindow::start() {
    std::vector<std::string> tools = StartupChecks::missingSystemTools();
    if (!tools.empty()) {
        answerer_->show(StartupChecks::missingToolsAlert(tools));
        hub_->endProgram(StartupChecks::kMissingToolStatus);
        return false;
    }
    sheet_->showMessage(
        QStringLiteral("Please wait while Tolvarin obtains information about your system."));
    systemInfo_.emplace();
    hub_->awakeFromNib();
    sheet_->finish();

    std::vector<std::string> modules = StartupChecks::missingModules();
    if (!modules.empty()) {
        answerer_->show(StartupChecks::missingModulesAlert(modules));
        hub_->endProgram(StartupChecks::kMissingModuleStatus);
        return false;
    }
    sheet_->showMessage(QStringLiteral("Looking for disks and volumes..."));
    DriveListLoader loader;
    std::vector<Media> media = loader.loadMediaList(System::releaseName(System::kernelRelease()));
    sheet_->finish();
    showMedia(media);
    if (media.empty()) {
        statusBar()->showMessage(qs("No disks or volumes were found: " + loader.problem()));
    }
    return true;
}

void MainWindow::showMedia(const std::vector<Media>& media) {
    hub_->setCurrentMediaArray(media);
    table_->setMedia(media);
    applyButtons();
}

void MainWindow::selectionChanged(int row) {
    const Media* record = table_->recordAt(row);
    if (record == nullptr || quitting_) {
        return;
    }
    statusBar()->clearMessage();
    hub_->selectUnit(*record);
    if (!hub_->buttonEnabled(GUIButton::normalStopScan) &&
        !hub_->buttonEnabled(GUIButton::cursoryStopScan)) {
        diagnosticsPane_->zero();
    }
}

// --- buttons -------------------------------------------------------------------

void MainWindow::startPressed(bool normal) {
    ++busy_;
    struct Done {
        int& busy;
        ~Done() { --busy; }
    } done{busy_};
    tabs_->setCurrentIndex(normal ? kNormalTab : kCursoryTab);
    statusBar()->clearMessage();
    const bool started =
        normal ? hub_->normalStartButtonSelected() : hub_->cursoryStartButtonSelected();
    if (!started) {
        std::string problem = hub_->startProblem();
        statusBar()->showMessage(qs(problem.empty() ? "No test was started." : problem));
    } else {
        statusBar()->showMessage(
            QStringLiteral("Testing %1...").arg(qs(hub_->selection().selectedItem())));
    }
}

void MainWindow::openCursoryOptions() {
    hub_->cursoryOptionsButtonSelected();
    auto* dialog = new CursoryOptionsDialog(*hub_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    optionsDialog_ = dialog;
    dialog->open();
}

void MainWindow::openDiagnosticsOptions() {
    if (!hub_->configureDiagnosticsButtonPressed()) {
        return;
    }
    auto* dialog = new DiagnosticsOptionsDialog(*hub_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    diagnosticsDialog_ = dialog;
    dialog->open();
}

void MainWindow::startDiagnosticsPressed() {
    ++busy_;
    struct Done {
        int& busy;
        ~Done() { --busy; }
    } done{busy_};
    tabs_->setCurrentIndex(kDiagnosticsTab);
    statusBar()->clearMessage();
    if (!hub_->startDiagnosticsButtonPressed()) {
        std::string problem = hub_->diagnostics().startProblem();
        statusBar()->showMessage(qs(problem.empty() ? "No diagnostics were run." : problem));
    } else {
        statusBar()->showMessage(
            QStringLiteral("Diagnosing %1...").arg(qs(hub_->selection().selectedItem())));
    }
}

QPushButton* MainWindow::buttonFor(GUIButton button) const {
    switch (button) {
    case GUIButton::normalPauseScan:
        return normalPane_->pauseButton;
    case GUIButton::normalStartScan:
        return normalPane_->startButton;
    case GUIButton::normalStopScan:
        return normalPane_->stopButton;
    case GUIButton::cursoryPauseScan:
        return cursoryPane_->pauseButton;
    case GUIButton::cursoryStartScan:
        return cursoryPane_->startButton;
    case GUIButton::cursoryStopScan:
        return cursoryPane_->stopButton;
    case GUIButton::cursoryOptionsButton:
        return cursoryPane_->optionsButton;
    case GUIButton::configureDiagnosticsButton:
        return diagnosticsPane_->configureButton;
    case GUIButton::startDiagnosticsButton:
        return diagnosticsPane_->startButton;
    case GUIButton::stopDiagnosticsButton:
        return diagnosticsPane_->stopButton;
    }
    return nullptr;
}

void MainWindow::applyButtons() {
    const std::array<bool, kGUIButtonCount> states = hub_->buttonStates();
    for (int i = 0; i < kGUIButtonCount; ++i) {
        const auto button = static_cast<GUIButton>(i);
        buttonFor(button)->setEnabled(states[static_cast<size_t>(i)] && !quitting_);
    }
}

void MainWindow::setButtonEnabled(GUIButton /*button*/, bool /*enabled*/) {
    // The hub's table is the truth; whichever thread changed it, the window
    // shows it as it stands when the main thread gets there.
    if (MainThread::isCurrent()) {
        applyButtons();
    } else {
        MainThread::post(this, [this] { applyButtons(); });
    }
}

// --- progress ------------------------------------------------------------------

void MainWindow::testStatsChanged() {
    if (redrawPosted_.exchange(true)) {
        return;
    }
    MainThread::post(this, [this] { scheduleRedraw(); });
}

void MainWindow::scheduleRedraw() {
    const qint64 interval = 1000 / kMaxRedrawsPerSecond;
    if (!sinceRedraw_.isValid() || sinceRedraw_.elapsed() >= interval) {
        redrawNow();
    } else if (!redrawTimer_.isActive()) {
        redrawTimer_.start(static_cast<int>(interval - sinceRedraw_.elapsed()));
    }
}

void MainWindow::redrawNow() {
    // Changes after this point post a new redraw.
    redrawPosted_.store(false);
    redrawTimer_.stop();
    sinceRedraw_.restart();
    ++redraws_;
    ScanPane* pane = hub_->normalScan() ? normalPane_ : cursoryPane_;
    const ScanProgress p = hub_->progress().progress();
    pane->showProgress(qs(p.typeOfTest), qs(p.currentTestRange),
                       {QString::number(p.surfaceErrors), QString::number(p.surfaceIrregularities),
                        QString::number(p.seekErrors), QString::number(p.seekIrregularities)},
                       p.surfacePercentage, p.seekPercentage);
    refreshMap();
}

void MainWindow::refreshMap() {
    // Redrawn when the scan published, at most every kMapRefreshMillis while
    // a test runs; a publish held back is drawn when the time is up.
    const uint64_t generation = hub_->progress().liveSurfaceMapGeneration();
    if (generation == mapGeneration_) {
        return;
    }
    const qint64 wait = sinceMap_.isValid() ? kMapRefreshMillis - sinceMap_.elapsed() : 0;
    if (wait > 0 && hub_->testRunning()) {
        if (!mapTimer_.isActive()) {
            mapTimer_.start(static_cast<int>(wait));
        }
        return;
    }
    mapGeneration_ = generation;
    sinceMap_.restart();
    ScanPane* pane = hub_->normalScan() ? normalPane_ : cursoryPane_;
    pane->surfaceMap->setPicture(hub_->progress().liveSurfaceMap());
}

void MainWindow::refreshTrend() {
    normalPane_->trend->setPicture(hub_->unitTrend());
}

void MainWindow::setSpinnerAnimating(GUISpinner spinner, bool animating) {
    MainThread::post(this, [this, spinner, animating] {
        ScanPane* pane = spinner == GUISpinner::normal    ? normalPane_
                         : spinner == GUISpinner::cursory ? cursoryPane_
                                                          : nullptr;
        if (pane == nullptr) {
            diagnosticsPane_->spinner->setAnimating(animating);
            return;
        }
        pane->spinner->setAnimating(animating);
        pane->stallText->setText(animating ? QStringLiteral("Waiting on the unit...") : QString());
    });
}

void MainWindow::diagnosticsStatsChanged() {
    auto show = [this] {
        const DiagnosticsPaneValues v = hub_->diagnostics().pane();
        diagnosticsPane_->showProgress(
            qs(v.currentDiagnosticsTest), v.diagnosticsCurrentProgress,
            v.diagnosticsOverallProgress,
            {qs(v.diagnosticsWeakBlockCount), qs(v.diagnosticsBadBlockCount),
             qs(v.diagnosticsProbableSystemFaults), qs(v.diagnosticsMemoryErrors),
             qs(v.diagnosticsInterfaceErrors), qs(v.diagnosticsSeekErrors)});
    };
    if (MainThread::isCurrent()) {
        show();
    } else {
        MainThread::post(this, show);
    }
}

void MainWindow::diagnosticsEnded() {
    MainThread::post(this, [this] {
        const DiagnosticsOutcome o = hub_->diagnostics().lastOutcome();
        auto blocks = [](int n, const char* kind) {
            return QStringLiteral("%1 %2 block%3")
                .arg(n)
                .arg(QLatin1String(kind))
                .arg(n == 1 ? QString() : QStringLiteral("s"));
        };
        statusBar()->showMessage(
            QStringLiteral("The diagnostics %1: %2, %3.")
                .arg(o.end == DiagnosticsOutcome::End::stopped ? QStringLiteral("were stopped")
                                                               : QStringLiteral("ended"))
                .arg(blocks(o.counters.badBlocks, "bad"), blocks(o.counters.weakBlocks, "weak")));
    });
}

void MainWindow::testEnded() {
    MainThread::post(this, [this] { showEndOfTest(); });
}

void MainWindow::showEndOfTest() {
    redrawNow();
    refreshTrend();
    const TestResults summary = hub_->testResults();
    if (!summary.started) {
        return;
    }
    QString outcome = summary.stopped ? QStringLiteral("stopped") : QStringLiteral("ended");
    statusBar()->showMessage(QStringLiteral("The test %1: %2 errors, %3 irregularities.")
                                 .arg(outcome)
                                 .arg(summary.totalErrors)
                                 .arg(summary.totalIrregularities));
}

QString MainWindow::statusText() const {
    return statusBar()->currentMessage();
}

// --- what the hub asks of the window -------------------------------------------

std::optional<std::string> MainWindow::askLogFileName(const std::string& directory,
                                                      const std::string& proposedName) {
    std::optional<std::string> chosen;
    MainThread::runAndWait([&] {
        QFileDialog dialog(this, QStringLiteral("Save the Log of This Test"));
        dialog.setObjectName(QStringLiteral("saveLogFileDialog"));
        // The same panel on every desktop, and one that works under pkexec.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The Documents folder is made when the first log is written; the
        // panel opens there all the same (as the user: the hub has given up
        // root's rights for the panel).
        QDir().mkpath(qs(directory));
        dialog.setDirectory(qs(directory));
        dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Log File Name:"));
        dialog.selectFile(qs(proposedName));
        dialog.setNameFilter(QStringLiteral("Text files (*.txt);;All files (*)"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().constFirst().toStdString();
        }
    });
    return chosen;
}

void MainWindow::startPullDownSheetWithMessage(const std::string& message) {
    MainThread::runAndWait([&] { sheet_->showMessage(qs(UserWording::sheetMessage(message))); });
}

void MainWindow::endPullDownSheet() {
    MainThread::runAndWait([&] { sheet_->finish(); });
}

void MainWindow::wakeMainThread() {
    MainThread::post(this, [this] {
        if (hub_) {
            hub_->runMainThreadWork();
        }
    });
}

void MainWindow::showUnitInfo(const std::vector<std::pair<std::string, std::string>>& info) {
    MainThread::runAndWait([&] {
        for (size_t i = 0; i < captions_.size(); ++i) {
            captions_[i]->setText(i < info.size() ? qs(info[i].first) : QString());
            values_[i]->setText(i < info.size() ? qs(info[i].second) : QString());
        }
    });
}

void MainWindow::showUnitUnderTest(const std::string& name, const std::string& identifier) {
    MainThread::runAndWait([&] {
        normalPane_->showUnit(qs(name), qs(identifier));
        cursoryPane_->showUnit(qs(name), qs(identifier));
        diagnosticsPane_->showUnit(qs(name), qs(identifier));
    });
    // Later, on the main thread's own turn: the hub may be in the middle of
    // the selection that called this.
    MainThread::post(this, [this] { refreshTrend(); });
}

// --- other windows ---------------------------------------------------------------

void MainWindow::showLogViewer() {
    if (!logViewer_) {
        // A window of its own, not a child: it outlives nothing but stays
        // out of the main window's way.
        logViewer_ = new LogViewer(nullptr);
        logViewer_->setWindowIcon(windowIcon());
    }
    logViewer_->showViewer();
}

void MainWindow::showPreferencePanel() {
    if (!preferences_) {
        preferences_ = new PreferencesWindow(*hub_, this);
    }
    preferences_->load();
    preferences_->show();
    preferences_->raise();
}

void MainWindow::showSystemInformation() {
    if (!systemInfo_) {
        systemInfo_.emplace();
    }
    if (!systemInfoWindow_) {
        systemInfoWindow_ = new SystemInfoWindow(*systemInfo_, this);
    }
    systemInfoWindow_->show();
    systemInfoWindow_->raise();
}

void MainWindow::resetTolvarinPreferences() {
    if (hub_->scanController().scanThreadRunning() || hub_->underTest()) {
        statusBar()->showMessage(
            QStringLiteral("The services are turned back on when the test ends."));
        return;
    }
    if (MessageCenter::generateAlertDialogWithNumber(19) == 0) {
        return;
    }
    hub_->disableSystemItems();
    hub_->enableSystemItems();
}

// --- quitting --------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAllowed_) {
        event->accept();
        return;
    }
    event->ignore();
    if (quitting_) {
        return;
    }
    if (busy_ > 0 || sheet_->isVisible()) {
        // A start is being prepared or a service switched right now (a box
        // of theirs is up); ask again once that is done.
        QTimer::singleShot(kRetryCloseMillis, this, [this] { close(); });
        return;
    }
    if (hub_->underTest()) {
        const bool normal = hub_->normalScan();
        std::optional<Alert> question = MessageCenter::alertForNumber(normal ? 4 : 7);
        const int answer = answerer_->show(*question);
        if (answer == MessageCenter::kDefaultAnswer) {
            return;
        }
        quitting_ = true;
        answerer_->setQuitting(true);
        if (answer == MessageCenter::kAlternateAnswer && hub_->underTest()) {
            if (normal) {
                hub_->normalStopButtonSelected();
            } else {
                hub_->cursoryStopButtonSelected();
            }
        }
    }
    quitting_ = true;
    answerer_->setQuitting(true);
    applyButtons();
    if (hub_->scanController().scanThreadRunning()) {
        statusBar()->showMessage(QStringLiteral("Ending the test before quitting..."));
        endWatch_.start();
        return;
    }
    prepareToClose();
    event->accept();
    MainThread::post(this, [this] { emit quitFinished(); });
}

void MainWindow::finishQuit() {
    prepareToClose();
    close();
    emit quitFinished();
}

void MainWindow::prepareToClose() {
    endWatch_.stop();
    hub_->enableSystemItems();
    closeAllowed_ = true;
    for (QWidget* other :
         {static_cast<QWidget*>(logViewer_.data()), static_cast<QWidget*>(preferences_.data()),
          static_cast<QWidget*>(systemInfoWindow_.data()),
          static_cast<QWidget*>(optionsDialog_.data())}) {
        if (other != nullptr) {
            other->hide();
        }
    }
}

} // namespace tolvarin
