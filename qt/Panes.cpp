#include "qt/Panes.h"

#include "qt/StallIndicator.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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

    auto* results = new QGroupBox(QStringLiteral("Results"), this);
    auto* form = new QGridLayout(results);
    const QString names[4] = {QStringLiteral("total%1SurfaceScanErrors"),
                              QStringLiteral("total%1SurfaceScanIrregularities"),
                              QStringLiteral("total%1SeekScanErrors"),
                              QStringLiteral("total%1SeekScanIrregularities")};
    const QString captions[4] = {
        QStringLiteral("Surface scan errors:"), QStringLiteral("Surface scan irregularities:"),
        QStringLiteral("Seek scan errors:"), QStringLiteral("Seek scan irregularities:")};
    for (int i = 0; i < 4; ++i) {
        totals[static_cast<size_t>(i)] =
            valueLabel(names[i].arg(mode), QStringLiteral("0"), results);
        form->addWidget(new QLabel(captions[i], results), i % 2, (i / 2) * 2);
        form->addWidget(totals[static_cast<size_t>(i)], i % 2, (i / 2) * 2 + 1);
    }
    form->setColumnStretch(1, 1);
    form->setColumnStretch(3, 1);

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

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(unit);
    layout->addWidget(progress);
    layout->addWidget(results);
    layout->addStretch();
    layout->addLayout(buttons);
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

    auto* results = new QGroupBox(QStringLiteral("Findings"), this);
    auto* form = new QGridLayout(results);
    const QString names[6] = {QStringLiteral("diagnosticsWeakBlockCount"),
                              QStringLiteral("diagnosticsBadBlockCount"),
                              QStringLiteral("diagnosticsProbableSystemFaults"),
                              QStringLiteral("diagnosticsMemoryErrors"),
                              QStringLiteral("diagnosticsInterfaceErrors"),
                              QStringLiteral("diagnosticsSeekErrors")};
    const QString captions[6] = {QStringLiteral("Weak blocks:"),
                                 QStringLiteral("Bad blocks:"),
                                 QStringLiteral("Probable system faults:"),
                                 QStringLiteral("Memory errors:"),
                                 QStringLiteral("Interface errors:"),
                                 QStringLiteral("Seek errors:")};
    for (int i = 0; i < 6; ++i) {
        counts[static_cast<size_t>(i)] = valueLabel(names[i], QStringLiteral("0"), results);
        form->addWidget(new QLabel(captions[i], results), i % 3, (i / 3) * 2);
        form->addWidget(counts[static_cast<size_t>(i)], i % 3, (i / 3) * 2 + 1);
    }
    form->setColumnStretch(1, 1);
    form->setColumnStretch(3, 1);

    configureButton =
        button(QStringLiteral("configureDiagnosticsButton"), QStringLiteral("Configure..."), this);
    startButton = button(QStringLiteral("startDiagnosticsButton"), QStringLiteral("Start"), this);
    stopButton = button(QStringLiteral("stopDiagnosticsButton"), QStringLiteral("Stop"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(configureButton);
    buttons->addStretch();
    buttons->addWidget(startButton);
    buttons->addWidget(stopButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(unit);
    layout->addWidget(progress);
    layout->addWidget(results);
    layout->addStretch();
    layout->addLayout(buttons);
}

void DiagnosticsPane::showUnit(const QString& name, const QString& identifier) {
    unitName->setText(name);
    unitIdentifier->setText(identifier);
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
