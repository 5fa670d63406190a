#include "qt/DiagnosticsOptionsDialog.h"

#include "app/GUIController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvarin {

namespace {

constexpr int kMax = DiagnosticsOptions::kMaximumIterations;

// A field and a stepper that show the same count.
void pair(QLineEdit* field, QSpinBox* stepper, QObject* owner) {
    stepper->setRange(1, kMax);
    stepper->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    stepper->setMaximumWidth(24);
    QObject::connect(stepper, QOverload<int>::of(&QSpinBox::valueChanged), owner,
                     [field](int value) { field->setText(QString::number(value)); });
}

} // namespace

DiagnosticsOptionsDialog::DiagnosticsOptionsDialog(GUIController& hub, QWidget* parent)
    : QDialog(parent), hub_(hub),
      analyze_(new QCheckBox(QStringLiteral("Analyze errors and irregularities"), this)),
      historicalOn_(new QRadioButton(QStringLiteral("All recorded tests"), this)),
      historicalOff_(new QRadioButton(QStringLiteral("Latest test only"), this)),
      interface_(new QCheckBox(QStringLiteral("Perform interface tests"), this)),
      memory_(new QCheckBox(QStringLiteral("Perform memory and system bus tests"), this)),
      interfaceField_(new QLineEdit(this)), memoryField_(new QLineEdit(this)),
      interfaceStepper_(new QSpinBox(this)), memoryStepper_(new QSpinBox(this)) {
    setWindowTitle(QStringLiteral("Diagnostics Options"));
    setObjectName(QStringLiteral("diagnosticsOptions"));
    analyze_->setObjectName(QStringLiteral("analyzeErrorsAndIrregularitesCheckbox"));
    historicalOn_->setObjectName(QStringLiteral("historicalAnalysisOn"));
    historicalOff_->setObjectName(QStringLiteral("historicalAnalysisOff"));
    interface_->setObjectName(QStringLiteral("performInterfaceTests"));
    memory_->setObjectName(QStringLiteral("performMemoryTests"));
    interfaceField_->setObjectName(QStringLiteral("interfaceIterationsTextField"));
    memoryField_->setObjectName(QStringLiteral("memoryIterationsTextField"));
    interfaceStepper_->setObjectName(QStringLiteral("interfaceTestsStepper"));
    memoryStepper_->setObjectName(QStringLiteral("memoryTestsStepper"));
    pair(interfaceField_, interfaceStepper_, this);
    pair(memoryField_, memoryStepper_, this);

    auto* history = new QButtonGroup(this);
    history->addButton(historicalOn_);
    history->addButton(historicalOff_);

    auto* analysis = new QGroupBox(QStringLiteral("Recorded findings"), this);
    auto* analysisLayout = new QVBoxLayout(analysis);
    analysisLayout->addWidget(analyze_);
    analysisLayout->addWidget(historicalOn_);
    analysisLayout->addWidget(historicalOff_);

    auto* tests = new QGroupBox(QStringLiteral("Further tests"), this);
    auto* grid = new QGridLayout(tests);
    grid->addWidget(interface_, 0, 0);
    grid->addWidget(interfaceField_, 0, 1);
    grid->addWidget(interfaceStepper_, 0, 2);
    grid->addWidget(memory_, 1, 0);
    grid->addWidget(memoryField_, 1, 1);
    grid->addWidget(memoryStepper_, 1, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("diagnosticsOptionsOK"));
    buttons->button(QDialogButtonBox::Cancel)
        ->setObjectName(QStringLiteral("diagnosticsOptionsCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &DiagnosticsOptionsDialog::okButtonPressed);
    connect(buttons, &QDialogButtonBox::rejected, this, &DiagnosticsOptionsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(analysis);
    layout->addWidget(tests);
    layout->addWidget(buttons);

    for (QCheckBox* box : {analyze_, interface_, memory_}) {
        connect(box, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    }
    // Typing a count: cut to the largest at once, as the stepper shows it.
    connect(interfaceField_, &QLineEdit::editingFinished, this, [this] {
        takeCount(interfaceField_, interfaceStepper_, &working_.interfaceTestIterations);
    });
    connect(memoryField_, &QLineEdit::editingFinished, this,
            [this] { takeCount(memoryField_, memoryStepper_, &working_.memoryTestIterations); });
    load();
}

void DiagnosticsOptionsDialog::load() {
    working_ = hub_.diagnostics().options();
    analyze_->setChecked(working_.analyzeErrorsAndIrregularities);
    historicalOn_->setChecked(working_.historicalAnalysis);
    historicalOff_->setChecked(!working_.historicalAnalysis);
    interface_->setChecked(working_.performInterfaceTests);
    memory_->setChecked(working_.performMemoryTests);
    interfaceStepper_->setValue(working_.interfaceTestIterations);
    memoryStepper_->setValue(working_.memoryTestIterations);
    interfaceField_->setText(QString::number(working_.interfaceTestIterations));
    memoryField_->setText(QString::number(working_.memoryTestIterations));
    updateEnabled();
}

void DiagnosticsOptionsDialog::updateEnabled() {
    // Greyed out, the radio buttons keep their choice.
    historicalOn_->setEnabled(analyze_->isChecked());
    historicalOff_->setEnabled(analyze_->isChecked());
    interfaceField_->setEnabled(interface_->isChecked());
    interfaceStepper_->setEnabled(interface_->isChecked());
    memoryField_->setEnabled(memory_->isChecked());
    memoryStepper_->setEnabled(memory_->isChecked());
}

bool DiagnosticsOptionsDialog::takeCount(QLineEdit* field, QSpinBox* stepper, int* count) {
    bool number = false;
    const long long typed = field->text().trimmed().toLongLong(&number);
    int value = number ? static_cast<int>(std::clamp<long long>(typed, 0, kMax)) : *count;
    const bool cut = number && typed > kMax;
    *count = value;
    QSignalBlocker quiet(stepper);
    stepper->setValue(std::max(value, 1));
    field->setText(QString::number(value));
    return !cut;
}

void DiagnosticsOptionsDialog::okButtonPressed() {
    const bool interfaceFits =
        takeCount(interfaceField_, interfaceStepper_, &working_.interfaceTestIterations);
    const bool memoryFits = takeCount(memoryField_, memoryStepper_, &working_.memoryTestIterations);
    if (!interfaceFits || !memoryFits) {
        return; // shown cut; the window stays open
    }
    working_.analyzeErrorsAndIrregularities = analyze_->isChecked();
    working_.historicalAnalysis = historicalOn_->isChecked();
    working_.performInterfaceTests = interface_->isChecked();
    working_.performMemoryTests = memory_->isChecked();
    if (!hub_.diagnostics().confirmDiagnosticsOptions(working_)) {
        return;
    }
    finished_ = true;
    accept();
}

void DiagnosticsOptionsDialog::reject() {
    if (!finished_) {
        finished_ = true;
        hub_.diagnostics().diagnosticsOptionsCancelled();
    }
    QDialog::reject();
}

} // namespace tolvarin
