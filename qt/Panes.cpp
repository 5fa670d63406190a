#include "qt/Panes.h"

#include "qt/PictureWidgets.h"

#include "qt/StallIndicator.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace tolvarin {

namespace {

QLabel* valueLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QProgressBar* bar(const QString& name, QWidget* parent) {
    auto* b = new QProgressBar(parent);
    b->setObjectName(name);
    b->setRange(0, ScanPane::kBarSteps);
    b->setValue(0);
    b->setFormat(QStringLiteral("%p%"));
    return b;
}

QPushButton* button(const QString& name, const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setEnabled(false);
    return b;
}

int barValue(double fraction) {
    if (!std::isfinite(fraction)) {
        return 0;
    }
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * ScanPane::kBarSteps));
}

// "Unit Under Test: NAME (ID)" as a small form of its own.
QWidget* unitBlock(QLabel*& name, QLabel*& identifier, const QString& prefix, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* form = new QFormLayout(box);
    form->setContentsMargins(0, 0, 0, 0);
    name = valueLabel(prefix + QStringLiteral("UnitName"), QStringLiteral("None selected"), box);
    identifier = valueLabel(prefix + QStringLiteral("UnitIdentifier"), QString(), box);
    form->addRow(QStringLiteral("Unit under test:"), name);
    form->addRow(QStringLiteral("Identifier:"), identifier);
    return box;
}

// Caption and value pairs in two columns of rows rows each; the values
// (named names, starting at "0") go to values.
QGroupBox* countsBox(const QString& title, const std::vector<std::pair<QString, QString>>& counts,
                     int rows, QLabel** values, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < static_cast<int>(counts.size()); ++i) {
        values[i] = valueLabel(counts[static_cast<size_t>(i)].first, QStringLiteral("0"), box);
        grid->addWidget(new QLabel(counts[static_cast<size_t>(i)].second, box), i % rows,
                        (i / rows) * 2);
        grid->addWidget(values[i], i % rows, (i / rows) * 2 + 1);
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return box;
}

// The pane from top to bottom: unit, progress, results, and the buttons at
// the foot.
void stack(QWidget* pane, QWidget* unit, QWidget* progress, QWidget* results,
           QHBoxLayout* buttons) {
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(unit);
    layout->addWidget(progress);
    layout->addWidget(results);
    layout->addStretch();
    layout->addLayout(buttons);
}

} // namespace

ScanPane::ScanPane(bool normal, QWidget* parent) : QWidget(parent) {
    const QString mode = normal ? QStringLiteral("Normal") : QStringLiteral("Cursory");
    const QString lower = normal ? QStringLiteral("normal") : QStringLiteral("cursory");
    setObjectName(lower + QStringLiteral("Pane"));

    QWidget* unit = unitBlock(unitName, unitIdentifier, lower, this);

    auto* progress = new QGroupBox(QStringLiteral("Progress"), this);
    auto* grid = new QGridLayout(progress);
    phase = valueLabel(lower + QStringLiteral("Phase"), QString(), progress);
    testField = valueLabel(QStringLiteral("typeOf") + mode + QStringLiteral("Test"),
                           QStringLiteral(" "), progress);
    grid->addWidget(new QLabel(QStringLiteral("Test:"), progress), 0, 0);
    grid->addWidget(phase, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Range:"), progress), 1, 0);
    grid->addWidget(testField, 1, 1, 1, 3);
    surfaceBar = bar(lower + QStringLiteral("SurfaceProgress"), progress);
    seekBar = bar(lower + QStringLiteral("SeekProgress"), progress);
    grid->addWidget(new QLabel(QStringLiteral("Surface scan:"), progress), 2, 0);
    grid->addWidget(surfaceBar, 2, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Seek scan:"), progress), 3, 0);
    grid->addWidget(seekBar, 3, 1, 1, 3);
    spinner = new StallIndicator(progress);
    spinner->setObjectName(lower + QStringLiteral("ProblemSpinner"));
    stallText = new QLabel(progress);
    stallText->setObjectName(lower + QStringLiteral("StallText"));
    auto* stall = new QHBoxLayout;
    stall->addWidget(spinner);
    stall->addWidget(stallText, 1);
    grid->addLayout(stall, 4, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    QGroupBox* results = countsBox(
        QStringLiteral("Results"),
        {{QStringLiteral("total%1SurfaceScanErrors").arg(mode),
          QStringLiteral("Surface scan errors:")},
         {QStringLiteral("total%1SurfaceScanIrregularities").arg(mode),
          QStringLiteral("Surface scan irregularities:")},
         {QStringLiteral("total%1SeekScanErrors").arg(mode), QStringLiteral("Seek scan errors:")},
         {QStringLiteral("total%1SeekScanIrregularities").arg(mode),
          QStringLiteral("Seek scan irregularities:")}},
        2, totals.data(), this);

    startButton = button(lower + QStringLiteral("StartScan"), QStringLiteral("Start"), this);
    pauseButton = button(lower + QStringLiteral("PauseScan"), QStringLiteral("Pause"), this);
    stopButton = button(lower + QStringLiteral("StopScan"), QStringLiteral("Stop"), this);
    auto* buttons = new QHBoxLayout;
    if (!normal) {
        optionsButton =
            button(QStringLiteral("cursoryOptionsButton"), QStringLiteral("Options..."), this);
        buttons->addWidget(optionsButton);
    }
    buttons->addStretch();
    buttons->addWidget(startButton);
    buttons->addWidget(pauseButton);
    buttons->addWidget(stopButton);

    stack(this, unit, progress, results, buttons);
    // Between the progress and the results. The normal pane shows the map
    // and the unit's index trend on two tabs in the one place, so that the
    // window keeps within a 1280x800 screen; the map's tab comes first.
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    surfaceMap = new SurfaceMapWidget(this);
    if (normal) {
        auto* pictures = new QTabWidget(this);
        pictures->setObjectName(QStringLiteral("normalPictures"));
        pictures->setDocumentMode(true);
        trend = new IndexTrendWidget(this);
        pictures->addTab(surfaceMap, QStringLiteral("Surface map"));
        pictures->addTab(trend, QStringLiteral("Performance indices"));
        layout->insertWidget(2, pictures, 2);
    } else {
        layout->insertWidget(2, surfaceMap, 2);
    }
}

void ScanPane::showUnit(const QString& name, const QString& identifier) {
    unitName->setText(name);
    unitIdentifier->setText(identifier);
}

void ScanPane::showProgress(const QString& phaseText, const QString& range,
                            const std::array<QString, 4>& values, double surface, double seek) {
    phase->setText(phaseText);
    testField->setText(range);
    for (size_t i = 0; i < totals.size(); ++i) {
        totals[i]->setText(values[i].isEmpty() ? QStringLiteral("0") : values[i]);
    }
    surfaceBar->setValue(barValue(surface));
    seekBar->setValue(barValue(seek));
}

DiagnosticsPane::DiagnosticsPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("diagnosticsPane"));
    QWidget* unit = unitBlock(unitName, unitIdentifier, QStringLiteral("diagnostics"), this);

    auto* progress = new QGroupBox(QStringLiteral("Progress"), this);
    auto* grid = new QGridLayout(progress);
    currentTest =
        valueLabel(QStringLiteral("currentDiagnosticsTest"), QStringLiteral("None"), progress);
    currentBar = bar(QStringLiteral("diagnosticsCurrentProgress"), progress);
    overallBar = bar(QStringLiteral("diagnosticsOverallProgress"), progress);
    spinner = new StallIndicator(progress);
    spinner->setObjectName(QStringLiteral("diagnosticsProblemSpinner"));
    grid->addWidget(new QLabel(QStringLiteral("Current step:"), progress), 0, 0);
    grid->addWidget(currentTest, 0, 1);
    grid->addWidget(spinner, 0, 2, Qt::AlignRight);
    grid->addWidget(new QLabel(QStringLiteral("This step:"), progress), 1, 0);
    grid->addWidget(currentBar, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Overall:"), progress), 2, 0);
    grid->addWidget(overallBar, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    QGroupBox* results = countsBox(
        QStringLiteral("Findings"),
        {{QStringLiteral("diagnosticsWeakBlockCount"), QStringLiteral("Weak blocks:")},
         {QStringLiteral("diagnosticsBadBlockCount"), QStringLiteral("Bad blocks:")},
         {QStringLiteral("diagnosticsProbableSystemFaults"),
          QStringLiteral("Probable system faults:")},
         {QStringLiteral("diagnosticsMemoryErrors"), QStringLiteral("Memory errors:")},
         {QStringLiteral("diagnosticsInterfaceErrors"), QStringLiteral("Interface errors:")},
         {QStringLiteral("diagnosticsSeekErrors"), QStringLiteral("Seek errors:")}},
        3, counts.data(), this);

    configureButton =
        button(QStringLiteral("configureDiagnosticsButton"), QStringLiteral("Configure..."), this);
    startButton = button(QStringLiteral("startDiagnosticsButton"), QStringLiteral("Start"), this);
    stopButton = button(QStringLiteral("stopDiagnosticsButton"), QStringLiteral("Stop"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(configureButton);
    buttons->addStretch();
    buttons->addWidget(startButton);
    buttons->addWidget(stopButton);

    stack(this, unit, progress, results, buttons);
}

void DiagnosticsPane::showUnit(const QString& name, const QString& identifier) {
    unitName->setText(name);
    unitIdentifier->setText(identifier);
}

void DiagnosticsPane::showProgress(const QString& step, double currentPercent,
                                   double overallPercent, const std::array<QString, 6>& values) {
    currentTest->setText(step);
    currentBar->setValue(barValue(currentPercent / 100.0));
    overallBar->setValue(barValue(overallPercent / 100.0));
    for (size_t i = 0; i < counts.size(); ++i) {
        counts[i]->setText(values[i]);
    }
}

void DiagnosticsPane::zero() {
    currentTest->setText(QStringLiteral("None"));
    for (QLabel* count : counts) {
        count->setText(QStringLiteral("0"));
    }
    currentBar->setValue(0);
    overallBar->setValue(0);
}

} // namespace tolvarin
