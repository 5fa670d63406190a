#pragma once

#include "diagnostics/DiagnosticsOptions.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace tolvarin {

class GUIController;

// The diagnostics options window: analysis of the recorded findings (all
// tests or the latest only), the interface test and the memory test with
// their iteration counts. It edits a working copy of the hub's options and
// writes it back only on OK; an iteration count above the largest allowed
// is cut to it, shown, and keeps the window open.
class DiagnosticsOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    DiagnosticsOptionsDialog(GUIController& hub, QWidget* parent = nullptr);

    QCheckBox* analyzeBox() const { return analyze_; }
    QRadioButton* historicalOn() const { return historicalOn_; }
    QRadioButton* historicalOff() const { return historicalOff_; }
    QCheckBox* interfaceBox() const { return interface_; }
    QCheckBox* memoryBox() const { return memory_; }
    QLineEdit* interfaceField() const { return interfaceField_; }
    QLineEdit* memoryField() const { return memoryField_; }
    QSpinBox* interfaceStepper() const { return interfaceStepper_; }
    QSpinBox* memoryStepper() const { return memoryStepper_; }

  public slots:
    void okButtonPressed();
    void reject() override;

  private:
    // windowDidLoad
    void load();
    void updateEnabled();
    // The count typed in a field, cut to the largest allowed and shown in
    // the field and its stepper; false when it had to be cut.
    bool takeCount(QLineEdit* field, QSpinBox* stepper, int* count);

    GUIController& hub_;
    DiagnosticsOptions working_;
    QCheckBox* analyze_;
    QRadioButton* historicalOn_;
    QRadioButton* historicalOff_;
    QCheckBox* interface_;
    QCheckBox* memory_;
    QLineEdit* interfaceField_;
    QLineEdit* memoryField_;
    QSpinBox* interfaceStepper_;
    QSpinBox* memoryStepper_;
    bool finished_ = false;
};

} // namespace tolvarin
