// The thread rule under the real event loop: a test on a small image is
// stopped, quit or closed at a random moment, fifty times each, with every
// question answered in its box. None may hang (each is bounded) or crash.
#include "app/GUIController.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"
#include "qt/DriveTable.h"
#include "qt/MainWindow.h"
#include "qt/Panes.h"
#include "tests/gui/support/GuiTestSupport.h"

#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <random>

namespace tolvarin {

namespace {

constexpr int kRounds = 50;
constexpr int64_t kUnitSize = 48 * 1048576;
// Every round ends within this, or it counts as a hang.
constexpr int kRoundTimeout = 30000;

enum class Ending { stop, quit, close };

} // namespace

class ThreadRuleTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<ImageUnits> units;
    std::unique_ptr<QuickWaits> waits;
    std::mt19937 random;
    // How long a whole test of the unit takes, measured once.
    int runMillis = 200;
    int logs = 0;

    // One test, ended at a random moment; answers whether the round ended
    // within its time.
    void round(Ending ending) {
        DialogDriver driver;
        // A log of its own: the proposed name changes only once a second.
        driver.setLogFileAnswer(
            QString::fromStdString(units->root() + "/log-" + std::to_string(++logs) + ".txt"));
        // Message 7 and 4 at random: Cancel or Quit. Everything else gets its
        // default button (the stop question ends the test).
        std::uniform_int_distribution<int> coin(0, 1);
        for (int i = 0; i < 4; ++i) {
            driver.push(7, coin(random));
        }
        auto window = std::make_unique<MainWindow>(nullptr, *waits);
        window->show();
        QVERIFY(window->start());
        window->driveTable()->setCurrentRow(0);
        GUIController& hub = window->hub();
        hub.cursoryOptionsButtonSelected();
        QVERIFY(hub.confirmCursoryOptions(GUIController::CursoryChoice{}));
        QSignalSpy finished(window.get(), &MainWindow::quitFinished);

        std::uniform_int_distribution<int> moment(0, runMillis);
        QTimer::singleShot(moment(random), window.get(), [&] {
            switch (ending) {
            case Ending::stop:
                window->cursoryPane()->stopButton->click();
                break;
            case Ending::quit:
                window->findChild<QAction*>("quitAction")->trigger();
                break;
            case Ending::close:
                window->close();
                break;
            }
        });
        QTest::mouseClick(window->cursoryPane()->startButton, Qt::LeftButton);

        if (ending == Ending::stop) {
            QTRY_VERIFY_WITH_TIMEOUT(!hub.scanController().scanThreadRunning(), kRoundTimeout);
        } else {
            // A quit the user cancelled is asked again once the test is over.
            QTRY_VERIFY_WITH_TIMEOUT(!hub.scanController().scanThreadRunning(), kRoundTimeout);
            if (finished.count() == 0) {
                window->close();
            }
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kRoundTimeout);
            QVERIFY(!window->isVisible());
        }
        QVERIFY(!hub.underTest());
        window.reset();
    }

    void rounds(Ending ending) {
        for (int i = 0; i < kRounds; ++i) {
            round(ending);
            if (QTest::currentTestFailed()) {
                qWarning("failed in round %d", i + 1);
                return;
            }
        }
    }

  private slots:
    void initTestCase() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        units = std::make_unique<ImageUnits>();
        units->addImage("sdx", kUnitSize);
        waits = std::make_unique<QuickWaits>();
        const auto seed =
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
        qInfo("random seed %u", seed);
        random.seed(seed);

        // One whole test first: its length bounds the random moments.
        DialogDriver driver;
        MainWindow window(nullptr, *waits);
        QVERIFY(window.start());
        window.driveTable()->setCurrentRow(0);
        window.hub().cursoryOptionsButtonSelected();
        QVERIFY(window.hub().confirmCursoryOptions(GUIController::CursoryChoice{}));
        QElapsedTimer took;
        took.start();
        QTest::mouseClick(window.cursoryPane()->startButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.hub().scanController().scanThreadRunning(), kRoundTimeout);
        runMillis = static_cast<int>(std::max<qint64>(took.elapsed(), 20));
        qInfo("one test takes %d ms", runMillis);
    }

    void cleanupTestCase() {
        waits.reset();
        units.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    void fiftyStops() { rounds(Ending::stop); }
    void fiftyQuits() { rounds(Ending::quit); }
    void fiftyWindowCloses() { rounds(Ending::close); }
};

} // namespace tolvarin

QTEST_MAIN(tolvarin::ThreadRuleTest)
#include "ThreadRuleTest.moc"
