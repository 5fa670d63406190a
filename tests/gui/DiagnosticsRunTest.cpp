// A diagnostics run driven through the window: the options window, Start,
// the run to message 31 with the pane's counters equal to those tolvarin-cli
// reports for the same history and faults, and a run stopped with the pane's
// Stop button (message 32 and the stop record).
#include "app/GUIController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/PosixRawDevice.h"
#include "qt/DiagnosticsOptionsDialog.h"
#include "qt/DriveTable.h"
#include "qt/MainWindow.h"
#include "qt/Panes.h"
#include "tests/gui/support/GuiTestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <chrono>
#include <fstream>
#include <thread>

namespace tolvarin {

namespace {

constexpr int64_t MiB = 1048576;
constexpr int64_t kUnitSize = 400 * MiB;
constexpr int64_t kBad = 300 * MiB;
constexpr int64_t kSlow = 250 * MiB;
// A weak sector: every read there takes this long.
constexpr int64_t kSlowMicros = 200000;
constexpr int kLongWait = 120000;

// The unit as the fault plan has it: reads over kBad fail, reads over kSlow
// take kSlowMicros.
class FaultyUnit : public ForwardingDevice {
  public:
    explicit FaultyUnit(std::unique_ptr<RawDevice> inner) : ForwardingDevice(std::move(inner)) {}
    int64_t seek(int64_t offset) override {
        at_ = offset;
        return inner().seek(offset);
    }
    int64_t read(void* buffer, int64_t length) override {
        auto overlaps = [&](int64_t start) { return at_ < start + 4096 && start < at_ + length; };
        if (overlaps(kBad)) {
            return -1;
        }
        if (overlaps(kSlow)) {
            std::this_thread::sleep_for(std::chrono::microseconds(kSlowMicros));
        }
        int64_t got = inner().read(buffer, length);
        at_ += got > 0 ? got : 0;
        return got;
    }

  private:
    int64_t at_ = 0;
};

QString label(MainWindow& w, int i) {
    return w.diagnosticsPane()->counts[static_cast<size_t>(i)]->text();
}

} // namespace

class DiagnosticsRunTest : public QObject {
    Q_OBJECT

  private slots:
    void aRunFromTheOptionsWindowAndAStoppedOne() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        ImageUnits units;
        const std::string image = units.addImage("sdw", kUnitSize);
        QuickWaits waits;

        // A normal test gives the unit its files; the history then gets
        // the findings of an earlier test.
        QProcess normal;
        normal.start(QStringLiteral(TOLVARIN_BUILD_DIR "/bin/tolvarin-cli"),
                     {"normal", "sdw", "--yes", "--log",
                      QString::fromStdString(units.root() + "/normal.txt")});
        QVERIFY(normal.waitForFinished(kLongWait));
        QCOMPARE(normal.exitCode(), 0);
        const QString data =
            QString::fromStdString(units.home() + "/Library/Application Support/Tolvarin");
        const QStringList dia = QDir(data).entryList({"*.dia"});
        QCOMPARE(dia.size(), 1);
        {
            std::ofstream history((data + "/" + dia.front()).toStdString(), std::ios::app);
            history << "SRTS:08:00:00, 12-07-2026\n"
                    << "SSE:" << kBad << ":0\n"
                    << "SSI:" << kSlow << ":0.800000:0\n";
        }

        DialogDriver driver;
        driver.setLogFileAnswer(QString::fromStdString(units.root() + "/diagnostics.txt"));
        MainWindow window(nullptr, waits);
        window.show();
        QVERIFY(window.start());
        window.driveTable()->setCurrentRow(0);
        window.hub().setDeviceOpener([](const std::string& path, bool) {
            return std::make_unique<FaultyUnit>(
                PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly));
        });
        DiagnosticsPane* pane = window.diagnosticsPane();
        window.panes()->setCurrentWidget(pane);

        // The options window: the latest test only, counts cut to the most.
        QVERIFY(pane->configureButton->isEnabled());
        QTest::mouseClick(pane->configureButton, Qt::LeftButton);
        QTRY_VERIFY(window.diagnosticsOptionsDialog() &&
                    window.diagnosticsOptionsDialog()->isVisible());
        DiagnosticsOptionsDialog* options = window.diagnosticsOptionsDialog();
        QVERIFY(!pane->configureButton->isEnabled());
        QVERIFY(options->analyzeBox()->isChecked());
        QVERIFY(options->historicalOn()->isChecked());
        options->analyzeBox()->setChecked(false);
        QVERIFY(!options->historicalOff()->isEnabled());
        options->historicalOff()->setChecked(true);
        options->analyzeBox()->setChecked(true);
        QVERIFY(options->historicalOff()->isEnabled() && options->historicalOff()->isChecked());
        options->memoryBox()->setChecked(true);
        options->memoryField()->setText("2000000");
        options->okButtonPressed();
        QVERIFY(options->isVisible());
        QCOMPARE(options->memoryField()->text(), QString("1000000"));
        QCOMPARE(options->memoryStepper()->value(), 1000000);
        QVERIFY(window.hub().diagnostics().options() == DiagnosticsOptions{});
        options->memoryBox()->setChecked(false);
        options->okButtonPressed();
        QTRY_VERIFY(!window.diagnosticsOptionsDialog());
        QVERIFY(!window.hub().diagnostics().historicalAnalysis());
        QVERIFY(pane->startButton->isEnabled());

        QTest::mouseClick(pane->startButton, Qt::LeftButton);
        QVERIFY2(window.hub().diagnosticsRunning() || window.hub().diagnostics().threadRunning(),
                 qPrintable(window.statusText()));
        QTRY_VERIFY_WITH_TIMEOUT(!window.hub().diagnostics().threadRunning(), kLongWait);
        window.hub().waitForTestEnd();
        QCOMPARE(driver.asked().back(), 31);
        QTRY_COMPARE(pane->currentTest->text(), QString("Diagnostic tests complete"));
        QCOMPARE(pane->overallBar->value(), pane->overallBar->maximum());
        QCOMPARE(label(window, 0), QString("1")); // weak
        QCOMPARE(label(window, 1), QString("1")); // bad
        saveScreenshot(&window, "main-window-diagnostics");

        // tolvarin-cli on the same history and faults counts the same.
        const QString faultlib = QStringLiteral(TOLVARIN_BUILD_DIR "/lib/libtolvarin_fault.so");
        if (QFile::exists(faultlib)) {
            const QString plan = QString::fromStdString(units.root() + "/unit.plan");
            {
                std::ofstream out(plan.toStdString());
                out << "target " << image << "\neio " << kBad << " " << kBad + 4096 << "\nslow "
                    << kSlow << " " << kSlow + 4096 << " " << kSlowMicros << "\n";
            }
            QProcess cli;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LD_PRELOAD", faultlib);
            env.insert("TOLVARIN_FAULT_PLAN", plan);
            cli.setProcessEnvironment(env);
            cli.start(QStringLiteral(TOLVARIN_BUILD_DIR "/bin/tolvarin-cli"),
                      {"diagnostics", "sdw", "--latest-only", "--yes", "--json", "--log",
                       QString::fromStdString(units.root() + "/cli.txt")});
            QVERIFY(cli.waitForFinished(kLongWait));
            QJsonObject counters = QJsonDocument::fromJson(cli.readAllStandardOutput())
                                       .object()["counters"]
                                       .toObject();
            QVERIFY2(!counters.isEmpty(), cli.readAllStandardError().constData());
            const char* keys[] = {"weakBlocks",   "badBlocks",       "probableSystemFaults",
                                  "memoryErrors", "interfaceErrors", "seekErrors"};
            for (int i = 0; i < 6; ++i) {
                QCOMPARE(label(window, i), QString::number(counters[keys[i]].toInt()));
            }
        }

        // Stop pressed while an irregularity is re-read.
        driver.setLogFileAnswer(QString::fromStdString(units.root() + "/stopped.txt"));
        // After a run, Start waits for the options to be confirmed again.
        QVERIFY(!pane->startButton->isEnabled());
        QTest::mouseClick(pane->configureButton, Qt::LeftButton);
        QTRY_VERIFY(window.diagnosticsOptionsDialog() &&
                    window.diagnosticsOptionsDialog()->isVisible());
        QVERIFY(window.diagnosticsOptionsDialog()->historicalOff()->isChecked());
        window.diagnosticsOptionsDialog()->okButtonPressed();
        QTRY_VERIFY(pane->startButton->isEnabled());
        QTest::mouseClick(pane->startButton, Qt::LeftButton);
        QVERIFY2(window.hub().diagnostics().threadRunning(), qPrintable(window.statusText()));
        QTRY_VERIFY_WITH_TIMEOUT(pane->currentTest->text().startsWith("Evaluating irregularity"),
                                 kLongWait);
        QVERIFY(pane->stopButton->isEnabled());
        QTest::mouseClick(pane->stopButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.hub().diagnostics().threadRunning(), kLongWait);
        window.hub().waitForTestEnd();
        QCOMPARE(driver.asked().back(), 32);
        QVERIFY(window.hub().diagnostics().lastOutcome().end == DiagnosticsOutcome::End::stopped);
        QFile log(QString::fromStdString(window.hub().diagnostics().logFile()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("DIAGNOSTICS STOPPED BY USER"));
        QVERIFY(!window.hub().underTest());
        QTRY_VERIFY(pane->configureButton->isEnabled());
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }
};

} // namespace tolvarin

QTEST_MAIN(tolvarin::DiagnosticsRunTest)
#include "DiagnosticsRunTest.moc"
