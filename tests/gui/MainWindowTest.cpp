// The main window without a test running: start-up, the drive table, the
// selection, the failures of start-up, the preferences, the log viewer, the
// cursory options and the system information.
#include "qt/MainWindow.h"
#include "app/GUIController.h"
#include "app/Preferences.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"
#include "qt/CursoryOptionsDialog.h"
#include "qt/DriveTable.h"
#include "qt/Icons.h"
#include "qt/LogViewer.h"
#include "qt/Panes.h"
#include "qt/PreferencesWindow.h"
#include "qt/SystemInfoWindow.h"
#include "tests/gui/support/GuiTestSupport.h"
#include "tests/support/FakeDiskTool.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <thread>

namespace tolvarin {

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<ImageUnits> units;
    std::unique_ptr<DialogDriver> driver;
    std::vector<int> exits;
    std::unique_ptr<QuickWaits> waits;

    std::unique_ptr<MainWindow> makeWindow() {
        auto window = std::make_unique<MainWindow>(nullptr, *waits);
        window->show();
        return window;
    }

    static QStringList rowTitles(const MainWindow& window) {
        QStringList titles;
        for (int i = 0; i < window.driveTable()->count(); ++i) {
            titles << window.driveTable()->item(i)->text();
        }
        return titles;
    }

    static std::array<bool, kGUIButtonCount> enabledButtons(MainWindow& window) {
        std::array<bool, kGUIButtonCount> out{};
        const char* names[] = {"normalPauseScan",        "normalStartScan",
                               "normalStopScan",         "cursoryPauseScan",
                               "cursoryStartScan",       "cursoryStopScan",
                               "cursoryOptionsButton",   "configureDiagnosticsButton",
                               "startDiagnosticsButton", "stopDiagnosticsButton"};
        for (int i = 0; i < kGUIButtonCount; ++i) {
            auto* button = window.findChild<QPushButton*>(names[i]);
            out[static_cast<size_t>(i)] = button != nullptr && button->isEnabled();
        }
        return out;
    }

  private slots:
    void init() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        units = std::make_unique<ImageUnits>();
        driver = std::make_unique<DialogDriver>();
        exits.clear();
        waits = std::make_unique<QuickWaits>();
        waits->onExit = [this](int status) { exits.push_back(status); };
    }

    void cleanup() {
        driver.reset();
        units.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    void startUpShowsTheDrivesTheirPicturesAndNoButtons() {
        FakeDiskTool tool(unitprobeData("guid"));
        auto window = makeWindow();
        QVERIFY(window->start());
        QCOMPARE(rowTitles(*window),
                 QStringList({"Primary Drive disk0", "Macintosh HD", "Primary Drive disk1",
                              "Recovery HD", "Generic"}));
        const DriveTable* table = window->driveTable();
        // Volumes are drawn indented under their disk; the USB disk has its
        // own picture.
        QCOMPARE(table->item(0)->data(DriveTable::kVolumeRole).toBool(), false);
        QCOMPARE(table->item(1)->data(DriveTable::kVolumeRole).toBool(), true);
        QCOMPARE(table->item(0)->data(DriveTable::kIconRole).toInt(),
                 static_cast<int>(Icons::Kind::hardDrive));
        QCOMPARE(table->item(2)->data(DriveTable::kIconRole).toInt(),
                 static_cast<int>(Icons::Kind::usb));
        QCOMPARE(Icons::kindFor(std::string("Firewire External Media")), Icons::Kind::firewire);
        QVERIFY(!Icons::pixmap(Icons::Kind::firewire, 32).isNull());
        QCOMPARE(table->currentRow(), -1);
        QCOMPARE(enabledButtons(*window), (std::array<bool, kGUIButtonCount>{}));
        QCOMPARE(window->infoCaption(0)->text(), QString());
        QVERIFY(window->systemInfo() != nullptr);
        QVERIFY(driver->asked().empty());
        saveScreenshot(window.get(), "main-window-start");
    }

    void selectingAVolumeAndADiskFillsTheCaptionsAndTheTarget() {
        FakeDiskTool tool(unitprobeData("guid"));
        auto window = makeWindow();
        QVERIFY(window->start());
        GUIController& hub = window->hub();

        window->driveTable()->setCurrentRow(1);
        QStringList captions, values;
        for (int i = 0; i < 6; ++i) {
            captions << window->infoCaption(i)->text();
            values << window->infoValue(i)->text();
        }
        QCOMPARE(captions, QStringList({"Volume Name:", "Volume Size:", "Volume Free Space:",
                                        "Volume Identifier:", "Volume Type:", "SMART Status:"}));
        QCOMPARE(values[0], QString("Macintosh HD"));
        QCOMPARE(values[3], QString("disk0s2"));
        QCOMPARE(hub.selection().targetDriveInfo().front(), std::string("volume:499.8"));
        QCOMPARE(window->normalPane()->unitName->text(), QString("Macintosh HD"));
        QCOMPARE(window->cursoryPane()->unitIdentifier->text(), QString("disk0s2"));
        auto buttons = enabledButtons(*window);
        QVERIFY(buttons[static_cast<size_t>(GUIButton::normalStartScan)]);
        QVERIFY(buttons[static_cast<size_t>(GUIButton::cursoryOptionsButton)]);
        QVERIFY(!buttons[static_cast<size_t>(GUIButton::cursoryStartScan)]);
        // Diagnostics: configure first, then start.
        QVERIFY(buttons[static_cast<size_t>(GUIButton::configureDiagnosticsButton)]);
        QVERIFY(!buttons[static_cast<size_t>(GUIButton::startDiagnosticsButton)]);

        window->driveTable()->setCurrentRow(0);
        QCOMPARE(window->infoCaption(0)->text(), QString("Primary Disk ID:"));
        QCOMPARE(window->infoValue(0)->text(), QString("disk0"));
        QCOMPARE(window->infoCaption(5)->text(), QString("SMART Status:"));
        QCOMPARE(window->normalPane()->unitName->text(), QString("Primary Drive disk0"));
        QCOMPARE(hub.rawTargetDevice().substr(hub.rawTargetDevice().rfind('/')),
                 std::string("/disk0"));
        std::vector<std::string> target = hub.selection().targetDriveInfo();
        QCOMPARE(target.front(), std::string("disk:500.1"));
        QCOMPARE(target.size(), size_t(2)); // the disk and its one volume
        saveScreenshot(window.get(), "main-window-selected");
    }

    void aMissingDiskToolOrModuleEndsWithTheAlert() {
        {
            ScopedEnv missing("TOLVARIN_DISKTOOL", units->root() + "/no-such-tool");
            auto window = makeWindow();
            QVERIFY(!window->start());
            QCOMPARE(exits, std::vector<int>({1}));
            QCOMPARE(driver->otherHeadings(), QStringList({"Missing Files...Tolvarin Can't Run!"}));
            QCOMPARE(window->driveTable()->count(), 0);
        }
        {
            FakeDiskTool tool(unitprobeData("guid"));
            ScopedEnv noModules("TOLVARIN_RESOURCES", units->root());
            auto window = makeWindow();
            QVERIFY(!window->start());
            QCOMPARE(exits, std::vector<int>({1, 255}));
            QCOMPARE(driver->otherHeadings().size(), 2);
        }
    }

    void preferencesAreStoredAndSurviveARestart() {
        FakeDiskTool tool(unitprobeData("guid"));
        {
            auto window = makeWindow();
            QVERIFY(window->start());
            window->showPreferencePanel();
            PreferencesWindow* prefs = window->preferencesWindow();
            QVERIFY(prefs != nullptr && prefs->isVisible());
            QCOMPARE(prefs->errorLimitField()->value(), 10);
            saveScreenshot(prefs, "preferences");

            prefs->errorLimitField()->setValue(55);
            QCOMPARE(window->hub().errorLimit(), 55);
            prefs->probeBox()->setChecked(true);
            QVERIFY(window->hub().probeInto());
            prefs->driveSleepBox()->setChecked(true);
            QVERIFY(window->hub().services().disableDriveSleep());
            QVERIFY(driver->otherHeadings().isEmpty());

            // Typed out of range: a word and the nearest allowed value.
            prefs->errorLimitField()->setValue(250);
            QCOMPARE(prefs->errorLimitField()->value(), 100);
            QCOMPARE(window->hub().errorLimit(), 100);
            prefs->errorLimitField()->setValue(0);
            QCOMPARE(prefs->errorLimitField()->value(), 1);
            QCOMPARE(driver->otherHeadings(),
                     QStringList({"Tolvarin Error Limits Must Be Between 1 and 100",
                                  "Tolvarin Error Limits Must Be Between 1 and 100"}));
            prefs->errorLimitField()->setValue(42);
            // The arrows stay inside the range without a word.
            prefs->errorLimitField()->setValue(100);
            prefs->errorLimitField()->stepBy(3);
            QCOMPARE(prefs->errorLimitField()->value(), 100);
            QCOMPARE(driver->otherHeadings().size(), 2);
        }
        auto again = makeWindow();
        QCOMPARE(again->hub().errorLimit(), 100);
        QVERIFY(again->hub().probeInto());
        QVERIFY(again->hub().services().disableDriveSleep());
        again->showPreferencePanel();
        QCOMPARE(again->preferencesWindow()->errorLimitField()->value(), 100);
        QVERIFY(again->preferencesWindow()->probeBox()->isChecked());
        QVERIFY(!again->preferencesWindow()->indexingBox()->isChecked());
        Preferences stored;
        QVERIFY(stored.load());
        QCOMPARE(stored.integerForKey(Preferences::disablePowerManagement), 1);
    }

    void theLogViewerHoldsTheLastPiecesLive() {
        FakeDiskTool tool(unitprobeData("guid"));
        auto window = makeWindow();
        QVERIFY(window->start());
        window->showLogViewer();
        LogViewer* viewer = window->logViewer();
        QVERIFY(viewer != nullptr && viewer->isVisible());
        Logger::setUserLogFileNameAndPathWithString(units->root() + "/viewer-log.txt");

        // Written on another thread, as a scan writes.
        std::thread writer([] {
            for (int i = 1; i <= 45; ++i) {
                Logger::updateLog("piece " + std::to_string(i) + (i == 45 ? "\nand more" : ""));
            }
        });
        writer.join();
        QTRY_VERIFY(viewer->shownText().endsWith("and more\n"));
        QVERIFY(viewer->shownText().startsWith("piece 6\n"));
        QCOMPARE(viewer->feed()->buffer().lineCount(), size_t(40));
        QScrollBar* bar = viewer->textView()->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(viewer->textView()->font().bold());
        QVERIFY(QFontInfo(viewer->textView()->font()).fixedPitch());
        saveScreenshot(viewer, "log-viewer");

        // The window's own close control hides it; the feed goes on.
        viewer->close();
        Logger::updateLog("written while hidden");
        window->showLogViewer();
        QTRY_VERIFY(viewer->shownText().endsWith("written while hidden\n"));
        // Clear, then only what comes after.
        viewer->clearButtonPressed();
        QCOMPARE(viewer->shownText(), QString());
        Logger::updateLog("after the clear");
        QTRY_COMPARE(viewer->shownText(), QString("after the clear\n"));
        // Close stops the feed.
        viewer->closeButtonPressed();
        QVERIFY(!viewer->isVisible());
        Logger::updateLog("not shown");
        QCOMPARE(viewer->feed()->buffer().text(), std::string("after the clear\n"));
    }

    void theCursoryOptionsHandTheirChecksToTheHub() {
        FakeDiskTool tool(unitprobeData("guid"));
        auto window = makeWindow();
        QVERIFY(window->start());
        window->driveTable()->setCurrentRow(0); // 500.1 GB
        driver->setScreenshotPrefix("cursory-");
        window->panes()->setCurrentWidget(window->cursoryPane());

        QTest::mouseClick(window->cursoryPane()->optionsButton, Qt::LeftButton);
        CursoryOptionsDialog* dialog = window->cursoryOptionsDialog();
        QVERIFY(dialog != nullptr);
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(!window->cursoryPane()->optionsButton->isEnabled());
        // The defaults: both scans, no range, no repair.
        QVERIFY(dialog->surfaceBox()->isChecked() && dialog->seekBox()->isChecked());
        QVERIFY(!dialog->limitBox()->isChecked() && !dialog->startField()->isEnabled());
        QVERIFY(!dialog->repairBox()->isChecked());
        saveScreenshot(dialog, "cursory-options");

        // Neither scan: message 5, the window stays.
        dialog->surfaceBox()->setChecked(false);
        dialog->seekBox()->setChecked(false);
        QVERIFY(!dialog->repairBox()->isEnabled());
        dialog->okButtonPressed();
        QCOMPARE(driver->asked(), std::vector<int>({5}));
        QVERIFY(dialog->isVisible());
        QVERIFY(!window->cursoryPane()->startButton->isEnabled());

        // A range from 5 to 3: message 11.
        dialog->surfaceBox()->setChecked(true);
        dialog->seekBox()->setChecked(true);
        dialog->limitBox()->setChecked(true);
        QVERIFY(dialog->startField()->isEnabled());
        dialog->startField()->setValue(5);
        dialog->endField()->setValue(3);
        dialog->okButtonPressed();
        QCOMPARE(driver->asked().back(), 11);

        // 2 to 4 on a 500 GB disk: snapped and shown in message 2000; eight
        // reads in flight, kept by the hub.
        QCOMPARE(dialog->queueDepthField()->value(), 1);
        dialog->queueDepthField()->setValue(8);
        dialog->startField()->setValue(2);
        dialog->endField()->setValue(4);
        dialog->okButtonPressed();
        QCOMPARE(driver->asked().back(), 2000);
        QCOMPARE(MessageCenter::cursoryStart(), 1.048576);
        QCOMPARE(MessageCenter::cursoryEnd(), 4.194304);
        QTRY_VERIFY(!dialog->isVisible());
        QVERIFY(window->cursoryPane()->startButton->isEnabled());
        QVERIFY(window->cursoryPane()->optionsButton->isEnabled());
        QVERIFY(window->hub().cursoryOptions().cursoryLimitedScanSelected());
        QCOMPARE(window->hub().cursoryOptions().limitedCursoryScanEndByte(), 4);
        QCOMPARE(window->hub().cursoryOptions().queueDepth(), 8);

        // Cancel hands nothing over and turns the start button off.
        QTest::mouseClick(window->cursoryPane()->optionsButton, Qt::LeftButton);
        QTRY_VERIFY(window->cursoryOptionsDialog() && window->cursoryOptionsDialog()->isVisible());
        QVERIFY(window->cursoryOptionsDialog()->limitBox()->isChecked());
        window->cursoryOptionsDialog()->seekBox()->setChecked(false);
        window->cursoryOptionsDialog()->reject();
        QVERIFY(window->hub().cursoryOptions().doSeekScan());
        QVERIFY(!window->cursoryPane()->startButton->isEnabled());
        QVERIFY(window->cursoryPane()->optionsButton->isEnabled());
    }

    void theSystemInformationWindowShowsTheFacts() {
        FakeDiskTool tool(unitprobeData("guid"));
        auto window = makeWindow();
        QVERIFY(window->start());
        window->showSystemInformation();
        SystemInfoWindow* info = window->systemInfoWindow();
        QVERIFY(info != nullptr && info->isVisible());
        auto* user = info->findChild<QLabel*>("systemInfoValue0");
        QVERIFY(user != nullptr);
        QCOMPARE(user->text().toStdString(), window->systemInfo()->userName());
        auto* kernel = info->findChild<QLabel*>("systemInfoValue6");
        // Through the command runner module.
        QVERIFY(kernel->text().startsWith("Linux"));
        saveScreenshot(info, "system-information");
    }
};

} // namespace tolvarin

QTEST_MAIN(tolvarin::MainWindowTest)
#include "MainWindowTest.moc"
