#pragma once

#include <QWidget>
#include <array>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tolvarin {

class IndexTrendWidget;
class StallIndicator;
class SurfaceMapWidget;

// The normal or the cursory pane of the main window: the unit under test,
// the range under way, the four totals, the surface and seek bars, the stall
// spinner and the pane's buttons. Its widgets carry the names the hub's
// fields have (typeOfNormalTest, normalSurfaceProgress, ...).
class ScanPane : public QWidget {
    Q_OBJECT
  public:
    // Bars run in this many steps from 0.0 to 1.0.
    static constexpr int kBarSteps = 1000;

    ScanPane(bool normal, QWidget* parent = nullptr);

    void showUnit(const QString& name, const QString& identifier);
    // The progress the hub holds: phase ("Surface Scan"), range, the four
    // totals (surface errors and irregularities, seek errors and
    // irregularities) and the two fractions.
    void showProgress(const QString& phase, const QString& range,
                      const std::array<QString, 4>& totals, double surface, double seek);

    QLabel* unitName;
    QLabel* unitIdentifier;
    QLabel* phase;
    QLabel* testField;
    std::array<QLabel*, 4> totals;
    QProgressBar* surfaceBar;
    QProgressBar* seekBar;
    StallIndicator* spinner;
    QLabel* stallText;
    QPushButton* startButton;
    QPushButton* pauseButton;
    QPushButton* stopButton;
    QPushButton* optionsButton = nullptr; // cursory pane only
    // The surface map of the scan under way; the unit's index trend (normal
    // pane only).
    SurfaceMapWidget* surfaceMap;
    IndexTrendWidget* trend = nullptr;
};

// The diagnostics pane: the step under way, the current and overall bars, the
// six counts, the spinner and the three buttons.
class DiagnosticsPane : public QWidget {
    Q_OBJECT
  public:
    explicit DiagnosticsPane(QWidget* parent = nullptr);

    void showUnit(const QString& name, const QString& identifier);
    void zero();
    // The step, the two bars (percent) and the six counts in pane order
    // (weak, bad, faults, memory, interface, seek).
    void showProgress(const QString& step, double currentPercent, double overallPercent,
                      const std::array<QString, 6>& values);

    QLabel* unitName;
    QLabel* unitIdentifier;
    QLabel* currentTest;
    QProgressBar* currentBar;
    QProgressBar* overallBar;
    std::array<QLabel*, 6> counts;
    StallIndicator* spinner;
    QPushButton* configureButton;
    QPushButton* startButton;
    QPushButton* stopButton;
};

} // namespace tolvarin
