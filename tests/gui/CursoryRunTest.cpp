// Cursory tests driven through the window's buttons on an image unit whose
// faults the fault library puts in (the test's environment preloads it):
// the run to its end with its messages answered in their boxes, the
// progress, the stall spinner during an overdue read, the results against
// tolvarin-cli's, the log viewer; pause and resume, stop answered both ways,
// quit answered both ways.
#include "app/GUIController.h"
#include "base/Clock.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/PosixRawDevice.h"
#include "platform/System.h"
#include "qt/CursoryOptionsDialog.h"
#include "qt/DriveTable.h"
#include "qt/LogViewer.h"
#include "qt/MainWindow.h"
#include "qt/Panes.h"
#include "qt/PictureWidgets.h"
#include "qt/StallIndicator.h"
#include "tests/gui/support/GuiTestSupport.h"
#include "tests/gui/support/ReadGate.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextStream>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>

namespace tolvarin {

namespace {

constexpr int64_t kSection = 1048576000;
constexpr int64_t kUnitSize = 2 * kSection + 104857600;
constexpr int kLongWait = 120000;
// One look of a paused scan.
constexpr int64_t kPauseMicros = 500000;

// What the plan the environment names puts where.
struct Plan {
    std::string target;
    int64_t eioStart = -1;
    int64_t slowStart = -1;
    int64_t slowEnd = -1;
};

Plan readPlan() {
    Plan plan;
    const char* path = std::getenv("TOLVARIN_FAULT_PLAN");
    std::ifstream in(path != nullptr ? path : "");
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "target") {
            words >> plan.target;
        } else if (kind == "eio") {
            words >> plan.eioStart;
        } else if (kind == "slow") {
            words >> plan.slowStart >> plan.slowEnd;
        }
    }
    return plan;
}

} // namespace

class CursoryRunTest : public QObject {
    Q_OBJECT

  private:
    Plan plan;
    std::unique_ptr<ImageUnits> units;
    std::unique_ptr<DialogDriver> driver;
    std::unique_ptr<QuickWaits> waits;
    std::unique_ptr<ReadGate> gatePtr;
    ReadGate& gate() { return *gatePtr; }
    std::unique_ptr<MainWindow> window;

    // A window on the plan's unit, the unit selected, reads through the gate.
    void openWindow() {
        window = std::make_unique<MainWindow>(nullptr, *waits);
        window->show();
        QVERIFY(window->start());
        QCOMPARE(window->driveTable()->count(), 1);
        QCOMPARE(window->driveTable()->item(0)->text(), QString("Primary Drive sdy"));
        window->driveTable()->setCurrentRow(0);
        window->hub().setDeviceOpener([this](const std::string& path, bool forWriting) {
            return gate().wrap(PosixRawDevice::open(path, forWriting
                                                              ? PosixRawDevice::Access::ReadWrite
                                                              : PosixRawDevice::Access::ReadOnly));
        });
    }

    // The default cursory options, accepted.
    void confirmOptions() {
        window->panes()->setCurrentWidget(window->cursoryPane());
        QTest::mouseClick(window->cursoryPane()->optionsButton, Qt::LeftButton);
        QTRY_VERIFY(window->cursoryOptionsDialog() && window->cursoryOptionsDialog()->isVisible());
        window->cursoryOptionsDialog()->okButtonPressed();
        QTRY_VERIFY(window->cursoryPane()->startButton->isEnabled());
    }

    void startCursory() {
        QTest::mouseClick(window->cursoryPane()->startButton, Qt::LeftButton);
        QVERIFY2(window->hub().underTest(), qPrintable(window->statusText()));
    }

    void waitForTheEnd() {
        QTRY_VERIFY_WITH_TIMEOUT(!window->hub().scanController().scanThreadRunning(), kLongWait);
        QTRY_VERIFY(window->hub().testResults().ended);
    }

    QString total(int index) const {
        return window->cursoryPane()->totals[static_cast<size_t>(index)]->text();
    }

  private slots:
    void initTestCase() {
        plan = readPlan();
        if (plan.target.empty()) {
            QSKIP("the fault library is not preloaded here (a sanitizer build has none)");
        }
    }

    void init() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        const std::string dev = plan.target.substr(0, plan.target.rfind('/'));
        units = std::make_unique<ImageUnits>(dev.substr(0, dev.rfind('/')));
        QCOMPARE(units->addImage("sdy", kUnitSize), plan.target);
        driver = std::make_unique<DialogDriver>();
        gatePtr = std::make_unique<ReadGate>();
        waits = std::make_unique<QuickWaits>();
    }

    void cleanup() {
        gate().release();
        if (window && window->hub().scanController().scanThreadRunning()) {
            window->hub().cursoryStopButtonSelected();
            QTRY_VERIFY_WITH_TIMEOUT(!window->hub().scanController().scanThreadRunning(),
                                     kLongWait);
        }
        window.reset();
        gatePtr.reset();
        waits.reset();
        driver.reset();
        units.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    void aCursoryTestFromTheButtonsRunsToItsEnd() {
        openWindow();
        saveScreenshot(window.get(), "main-window-before");
        window->showLogViewer();
        driver->setScreenshotPrefix("cursory-run-");
        confirmOptions();

        // What the bars showed on the way.
        std::set<int> surfaceSeen, seekSeen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] {
            surfaceSeen.insert(window->cursoryPane()->surfaceBar->value());
            seekSeen.insert(window->cursoryPane()->seekBar->value());
        });
        sampler.start(1);

        std::atomic<int> reports{0};
        NotificationCenter::Token counting = window->hub().progress().note().addObserver(
            "UpdateTestStatusWindow", [&](const std::string&, const void*) { ++reports; });
        gate().arm(plan.slowStart, plan.slowEnd);
        startCursory();
        QCOMPARE(driver->asked(), std::vector<int>({0}));
        QCOMPARE(driver->logPanels(), 1);
        QVERIFY(driver->lastProposedLog().startsWith("Log"));
        QVERIFY(driver->lastProposedLog().endsWith(".txt"));
        QCOMPARE(QString::fromStdString(Logger::logFileNameAndPath()),
                 QString::fromStdString(units->home() + "/Documents/") + driver->lastProposedLog());

        // The slow read is held: the spinner turns, and stops after it.
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);
        StallIndicator* spinner = window->cursoryPane()->spinner;
        QTRY_VERIFY(spinner->isAnimating());
        QCOMPARE(window->cursoryPane()->stallText->text(), QString("Waiting on the unit..."));
        QVERIFY(window->cursoryPane()->pauseButton->isEnabled());
        QVERIFY(window->cursoryPane()->stopButton->isEnabled());
        QVERIFY(!window->normalPane()->startButton->isEnabled());
        // The live map was laid out and drawn while the scan ran.
        QTRY_VERIFY(!window->cursoryPane()->surfaceMap->picture().cells.empty());
        window->cursoryPane()->surfaceBar->repaint();
        saveScreenshot(window.get(), "main-window-during");
        gate().release();
        QTRY_VERIFY(!spinner->isAnimating());

        waitForTheEnd();
        sampler.stop();
        QTRY_COMPARE(window->cursoryPane()->seekBar->value(), ScanPane::kBarSteps);
        // The map's last state: the unreadable block and the slow one in
        // their classes, at their places.
        const SurfaceMapPicture map = window->cursoryPane()->surfaceMap->picture();
        auto classAt = [&map](int64_t offset) {
            for (const MapCell& cell : map.cells) {
                if (offset >= cell.start && offset < cell.end) {
                    return cell.latency;
                }
            }
            return LatencyClass::notRead;
        };
        QCOMPARE(classAt(775946240), LatencyClass::unreadable);
        QCOMPARE(classAt(1572864000), LatencyClass::from500ms);
        QCOMPARE(driver->asked(), std::vector<int>({0, 1}));
        // The bars moved through values between their ends.
        QVERIFY(std::any_of(surfaceSeen.begin(), surfaceSeen.end(),
                            [](int v) { return v > 0 && v < ScanPane::kBarSteps; }));
        QVERIFY(std::any_of(seekSeen.begin(), seekSeen.end(),
                            [](int v) { return v > 0 && v < ScanPane::kBarSteps; }));
        // Redraws are coalesced: fewer than the progress reports.
        QVERIFY(window->redraws() > 2);
        QVERIFY2(window->redraws() < reports.load(),
                 qPrintable(QString("%1 redraws, %2 reports").arg(window->redraws()).arg(reports)));
        QTRY_VERIFY(window->normalPane()->startButton->isEnabled());
        QVERIFY(!window->cursoryPane()->startButton->isEnabled());
        saveScreenshot(window.get(), "main-window-after");
        window->hub().progress().note().removeObserver(counting);

        // The same unit through tolvarin-cli.
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVARIN_HOME", QString::fromStdString(units->root() + "/cli-home"));
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(TOLVARIN_BUILD_DIR "/bin/tolvarin-cli"),
                  {"cursory", QString::fromStdString(plan.target), "--yes", "--json"});
        QVERIFY(cli.waitForFinished(kLongWait));
        QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        QJsonObject counts = json["counts"].toObject();
        QVERIFY2(!counts.isEmpty(), cli.readAllStandardError().constData());
        QCOMPARE(total(0), QString::number(counts["surfaceErrors"].toInt()));
        QCOMPARE(total(1), QString::number(counts["surfaceIrregularities"].toInt()));
        QCOMPARE(total(2), QString::number(counts["seekErrors"].toInt()));
        QCOMPARE(total(3), QString::number(counts["seekIrregularities"].toInt()));
        QVERIFY(counts["surfaceErrors"].toInt() >= 1);
        QVERIFY(counts["surfaceIrregularities"].toInt() >= 1);
        const TestResults summary = window->hub().testResults();
        QCOMPARE(summary.totalErrors, counts["totalErrors"].toInt());
        QCOMPARE(summary.totalIrregularities, counts["totalIrregularities"].toInt());

        // The log viewer holds the log's last pieces.
        QFile log(QString::fromStdString(Logger::logFileNameAndPath()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(log.readAll());
        QTRY_VERIFY(!window->logViewer()->shownText().isEmpty());
        const QString shown = window->logViewer()->shownText();
        QVERIFY(written.endsWith(shown));
        QVERIFY(shown.count('\n') >= 20);
        saveScreenshot(window->logViewer(), "log-viewer-after-test");
    }

    void pauseAndResume() {
        openWindow();
        confirmOptions();
        gate().arm(plan.slowStart, plan.slowEnd);
        startCursory();
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);
        QTest::mouseClick(window->cursoryPane()->pauseButton, Qt::LeftButton);
        // Paused: start resumes, pause is off, stop stays.
        QVERIFY(window->cursoryPane()->startButton->isEnabled());
        QVERIFY(!window->cursoryPane()->pauseButton->isEnabled());
        QVERIFY(window->cursoryPane()->stopButton->isEnabled());
        QVERIFY(window->hub().underTest());
        gate().release();
        // The scan waits at its next read: it does not get past the slow block.
        gate().arm(plan.slowEnd, kUnitSize);
        const int pauses = waits->sleepsOf(kPauseMicros);
        QTRY_VERIFY_WITH_TIMEOUT(waits->sleepsOf(kPauseMicros) >= pauses + 3, kLongWait);
        QCOMPARE(gate().held(), 1);
        QCOMPARE(
            window->hub().progress().spinnerLocation(SpinnerPane::cursory, SpinnerScan::surface),
            plan.slowStart);

        // Start again resumes without asking anything.
        QTest::mouseClick(window->cursoryPane()->startButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);
        QVERIFY(window->cursoryPane()->pauseButton->isEnabled());
        gate().release();
        waitForTheEnd();
        QCOMPARE(driver->asked(), std::vector<int>({0, 1}));
        QVERIFY(!window->hub().testResults().stopped);
    }

    void stopAnsweredBothWays() {
        openWindow();
        confirmOptions();
        gate().arm(plan.slowStart, plan.slowEnd);
        startCursory();
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);

        // Cancel: the test goes on.
        driver->push(6, 0);
        QTest::mouseClick(window->cursoryPane()->stopButton, Qt::LeftButton);
        gate().release();
        gate().arm(2 * kSection, kUnitSize);
        QTRY_VERIFY_WITH_TIMEOUT(driver->count(6) == 1, kLongWait);
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);
        QVERIFY(window->hub().underTest());
        QVERIFY(window->cursoryPane()->stopButton->isEnabled());

        // Terminate Now: the test ends, stopped.
        driver->push(6, 1);
        QTest::mouseClick(window->cursoryPane()->stopButton, Qt::LeftButton);
        gate().release();
        waitForTheEnd();
        QCOMPARE(driver->count(6), 2);
        QVERIFY(window->hub().testResults().stopped);
        QVERIFY(!window->hub().underTest());
        QVERIFY(window->normalPane()->startButton->isEnabled());
        // The window shows the end once its main thread has taken the news.
        QTRY_VERIFY(window->statusText().contains("stopped"));
    }

    void quitAnsweredBothWays() {
        openWindow();
        confirmOptions();
        gate().arm(plan.slowStart, plan.slowEnd);
        startCursory();
        QTRY_VERIFY_WITH_TIMEOUT(gate().holding(), kLongWait);
        QSignalSpy finished(window.get(), &MainWindow::quitFinished);
        driver->setScreenshotPrefix("quit-");

        // Cancel: nothing happens.
        driver->push(7, 1);
        window->close();
        QCOMPARE(driver->asked().back(), 7);
        QVERIFY(window->isVisible());
        QVERIFY(!window->quitting());
        QVERIFY(window->hub().underTest());

        // Quit: the test is stopped without its stop question, and the window
        // closes once the scan thread has ended.
        driver->push(7, 0);
        window->close();
        QVERIFY(window->quitting());
        QVERIFY(window->isVisible());
        QCOMPARE(finished.count(), 0);
        gate().release();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kLongWait);
        QVERIFY(!window->isVisible());
        QVERIFY(!window->hub().scanController().scanThreadRunning());
        QCOMPARE(driver->count(6), 0);
        QCOMPARE(driver->count(7), 2);
        QVERIFY(window->hub().testResults().stopped);
    }
};

} // namespace tolvarin

QTEST_MAIN(tolvarin::CursoryRunTest)
#include "CursoryRunTest.moc"
