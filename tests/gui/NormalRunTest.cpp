// A first and a second normal test of an image unit from the window's
// buttons: the first stores the unit's baseline, the second is compared with
// it; each ends with its report and the offer to open it.
#include "app/GUIController.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"
#include "qt/DriveTable.h"
#include "qt/MainWindow.h"
#include "qt/Panes.h"
#include "qt/PictureWidgets.h"
#include "tests/gui/support/GuiTestSupport.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

namespace tolvarin {

class NormalRunTest : public QObject {
    Q_OBJECT

  private slots:
    void aFirstAndASecondNormalTest() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        ImageUnits units;
        units.addImage("sdw", 96 * 1048576);
        QuickWaits waits;

        for (int run = 1; run <= 2; ++run) {
            DialogDriver driver;
            // "Cancel" to the report: no viewer is opened.
            driver.push(8, 0);
            driver.setLogFileAnswer(
                QString::fromStdString(units.root() + "/normal-" + std::to_string(run) + ".txt"));
            MainWindow window(nullptr, waits);
            window.show();
            QVERIFY(window.start());
            window.driveTable()->setCurrentRow(0);
            QTest::mouseClick(window.normalPane()->startButton, Qt::LeftButton);
            QVERIFY2(window.hub().underTest(), qPrintable(window.statusText()));
            QVERIFY(window.normalPane()->stopButton->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(!window.hub().scanController().scanThreadRunning(), 120000);
            const TestResults summary = window.hub().testResults();
            QVERIFY(summary.ended && summary.completed && !summary.stopped);
            QVERIFY(QFileInfo::exists(QString::fromStdString(summary.reportPath)));
            QCOMPARE(driver.asked().front(), 0);
            QCOMPARE(driver.asked().back(), 8);
            QTRY_COMPARE(window.normalPane()->seekBar->value(), ScanPane::kBarSteps);
            QCOMPARE(window.normalPane()->totals[0]->text(), QString("0"));
            // The map of a test read to its end frames no stretch.
            QTRY_COMPARE(window.normalPane()->surfaceMap->picture().position, int64_t(-1));
            // The pane's index trend is read again from the stored tests.
            QTRY_COMPARE(window.normalPane()->trend->picture().points.size(), std::size_t(run));
            if (run == 2) {
                saveScreenshot(&window, "main-window-normal-test");
                // The pane at its fullest still fits a 1280x800 screen with
                // a title bar and a panel.
                QVERIFY2(
                    window.width() <= 1280 && window.height() <= 740,
                    qPrintable(QStringLiteral("%1x%2").arg(window.width()).arg(window.height())));
                auto* pictures = window.findChild<QTabWidget*>(QStringLiteral("normalPictures"));
                QVERIFY(pictures != nullptr);
                pictures->setCurrentWidget(window.normalPane()->trend);
                saveScreenshot(&window, "main-window-normal-indices");
            }
        }
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }
};

} // namespace tolvarin

QTEST_MAIN(tolvarin::NormalRunTest)
#include "NormalRunTest.moc"
