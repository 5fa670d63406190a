// tolvarin-gui-bench: one cursory surface scan driven through the main
// window on the offscreen platform, as a person would: the unit selected in
// the drive table, the options confirmed, Start pressed, every question
// answered with its default button and the proposed log name taken. Prints
// one line of JSON: the bytes the unit holds, the window's redraws and the
// errors found. bench/gui_vs_cli.sh runs it against tolvarin-cli and times
// both from outside, by the bytes each process has read.
//
// Usage: tolvarin-gui-bench UNIT (an identifier the drive table lists).
#include "app/GUIController.h"
#include "engine/ScanController.h"
#include "platform/System.h"
#include "qt/DriveTable.h"
#include "qt/MainWindow.h"
#include "qt/Panes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using namespace tolvarin;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tolvarin-gui-bench UNIT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    if (!window.start()) {
        return 1;
    }
    const int row = window.driveTable()->rowOf(argv[1]);
    if (row < 0) {
        std::fprintf(stderr, "tolvarin-gui-bench: %s is not in the drive table\n", argv[1]);
        return 2;
    }
    window.driveTable()->setCurrentRow(row);
    GUIController& hub = window.hub();
    GUIController::CursoryChoice surfaceOnly;
    surfaceOnly.seek = false;
    hub.cursoryOptionsButtonSelected();
    if (!hub.confirmCursoryOptions(surfaceOnly)) {
        return 1;
    }

    // The person at the window: default buttons, the proposed log name.
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QMetaObject::invokeMethod(box->defaultButton(), "click", Qt::QueuedConnection);
        } else if (auto* panel = qobject_cast<QFileDialog*>(modal)) {
            QMetaObject::invokeMethod(panel, "accept", Qt::QueuedConnection);
        }
    });
    person.start(5);
    window.cursoryPane()->startButton->click();
    if (!hub.underTest()) {
        std::fprintf(stderr, "tolvarin-gui-bench: no test: %s\n", hub.startProblem().c_str());
        return 1;
    }
    QEventLoop loop;
    QTimer end;
    QObject::connect(&end, &QTimer::timeout, [&] {
        if (!hub.scanController().scanThreadRunning()) {
            loop.quit();
        }
    });
    end.start(20);
    loop.exec();

    const TestResults s = hub.testResults();
    if (!s.ended || s.stopped || !s.surfaceCompleted) {
        std::fprintf(stderr, "tolvarin-gui-bench: the scan did not run to its end\n");
        return 1;
    }
    std::printf("{\"bytes\": %lld, \"redraws\": %d, \"errors\": %d}\n",
                static_cast<long long>(s.detectedSize), window.redraws(), s.totalErrors);
    return 0;
}
