#include "qt/CursoryOptionsDialog.h"

#include "app/GUIController.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tolvarin {

namespace {
// Whole gigabytes; far beyond any unit.
constexpr int kMaxGigabytes = 1000000;
} // namespace

CursoryOptionsDialog::CursoryOptionsDialog(GUIController& hub, QWidget* parent)
    : QDialog(parent), hub_(hub), surface_(new QCheckBox(QStringLiteral("Surface scan"), this)),
      seek_(new QCheckBox(QStringLiteral("Seek scan"), this)),
      repair_(new QCheckBox(QStringLiteral("Attempt to repair unreadable sectors"), this)),
      limit_(new QCheckBox(QStringLiteral("Limit Scan"), this)), start_(new QSpinBox(this)),
      end_(new QSpinBox(this)), startLabel_(new QLabel(QStringLiteral("Start (GB):"), this)),
      endLabel_(new QLabel(QStringLiteral("End (GB):"), this)), depth_(new QSpinBox(this)) {
    setWindowTitle(QStringLiteral("Cursory Scan Options"));
    setObjectName(QStringLiteral("cursoryOptions"));
    surface_->setObjectName(QStringLiteral("surfaceScanButton"));
    seek_->setObjectName(QStringLiteral("seekScanButton"));
    repair_->setObjectName(QStringLiteral("attemptRepairButton"));
    limit_->setObjectName(QStringLiteral("limitScanButton"));
    start_->setObjectName(QStringLiteral("startSweepTextField"));
    end_->setObjectName(QStringLiteral("endSweepTextField"));
    for (QSpinBox* field : {start_, end_}) {
        field->setRange(0, kMaxGigabytes);
        field->setSuffix(QStringLiteral(" GB"));
        field->setMinimumWidth(120);
    }

    auto* scans = new QGroupBox(QStringLiteral("Tests to run"), this);
    auto* scanLayout = new QVBoxLayout(scans);
    scanLayout->addWidget(surface_);
    scanLayout->addWidget(seek_);
    scanLayout->addWidget(repair_);
    auto* warning =
        new QLabel(QStringLiteral("A repair overwrites unreadable sectors with zeros."), scans);
    warning->setWordWrap(true);
    scanLayout->addWidget(warning);

    depth_->setObjectName(QStringLiteral("queueDepthField"));
    depth_->setRange(CursoryOptions::kMinQueueDepth, CursoryOptions::kMaxQueueDepth);
    auto* depthRow = new QHBoxLayout();
    depthRow->addWidget(new QLabel(QStringLiteral("Reads in flight:"), scans));
    depthRow->addWidget(depth_);
    depthRow->addStretch(1);
    scanLayout->addLayout(depthRow);
    auto* depthNote = new QLabel(QStringLiteral("More than 1 suits solid-state units; the scan's "
                                                "indices then differ from a normal test's."),
                                 scans);
    depthNote->setWordWrap(true);
    scanLayout->addWidget(depthNote);

    auto* range = new QGroupBox(QStringLiteral("Surface scan range"), this);
    auto* rangeLayout = new QGridLayout(range);
    rangeLayout->addWidget(limit_, 0, 0, 1, 2);
    rangeLayout->addWidget(startLabel_, 1, 0);
    rangeLayout->addWidget(start_, 1, 1);
    rangeLayout->addWidget(endLabel_, 2, 0);
    rangeLayout->addWidget(end_, 2, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("optionsOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("optionsCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CursoryOptionsDialog::okButtonPressed);
    connect(buttons, &QDialogButtonBox::rejected, this, &CursoryOptionsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scans);
    layout->addWidget(range);
    layout->addWidget(buttons);

    connect(surface_, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    connect(limit_, &QCheckBox::toggled, this, [this] { updateEnabled(); });
    load();
}

void CursoryOptionsDialog::load() {
    start_->setValue(hub_.cursoryOptions().limitedCursoryScanStartByte());
    end_->setValue(hub_.cursoryOptions().limitedCursoryScanEndByte());
    seek_->setChecked(hub_.cursoryOptions().doSeekScan());
    depth_->setValue(hub_.cursoryOptions().queueDepth());
    surface_->setChecked(hub_.cursoryOptions().doSurfaceScan());
    if (hub_.cursoryOptions().doSurfaceScan()) {
        limit_->setChecked(hub_.cursoryOptions().cursoryLimitedScanSelected());
    } else {
        limit_->setChecked(false);
        hub_.cursoryOptions().setCursoryLimitedScanSelected(false);
    }
    // Repair is chosen anew every time.
    repair_->setChecked(false);
    updateEnabled();
}

void CursoryOptionsDialog::updateEnabled() {
    const bool surface = surface_->isChecked();
    const bool range = surface && limit_->isChecked();
    limit_->setEnabled(surface);
    depth_->setEnabled(surface);
    repair_->setEnabled(surface);
    startLabel_->setEnabled(surface);
    endLabel_->setEnabled(surface);
    start_->setEnabled(range);
    end_->setEnabled(range);
}

void CursoryOptionsDialog::okButtonPressed() {
    // Values typed but not yet confirmed count.
    start_->interpretText();
    end_->interpretText();
    GUIController::CursoryChoice choice;
    choice.surface = surface_->isChecked();
    choice.seek = seek_->isChecked();
    choice.repair = repair_->isChecked() && surface_->isChecked();
    choice.limit = limit_->isChecked() && surface_->isChecked();
    choice.startGB = start_->value();
    choice.endGB = end_->value();
    depth_->interpretText();
    choice.queueDepth = depth_->value();
    if (!hub_.confirmCursoryOptions(choice)) {
        return;
    }
    finished_ = true;
    accept();
}

void CursoryOptionsDialog::reject() {
    // Cancel, Escape and the window's close control alike.
    if (!finished_) {
        finished_ = true;
        hub_.cursoryOptionsCancelled();
    }
    QDialog::reject();
}

} // namespace tolvarin
