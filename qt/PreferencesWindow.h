#pragma once

#include <QDialog>
#include <QSpinBox>

class QCheckBox;

namespace tolvarin {

class GUIController;

// The error limit field with its stepper: the arrows stay within 1 to 100,
// a typed value outside that range is the window's to correct.
class ErrorLimitBox : public QSpinBox {
    Q_OBJECT
  public:
    explicit ErrorLimitBox(QWidget* parent = nullptr);
    void stepBy(int steps) override;
};

// The preferences window: the error limit, probing of failing sections and
// the three services turned off during tests. Every change writes all five
// values to the preferences file and hands them to the hub.
class PreferencesWindow : public QDialog {
    Q_OBJECT
  public:
    PreferencesWindow(GUIController& hub, QWidget* parent = nullptr);

    // windowDidLoad: the controls from the preferences file.
    void load();

    ErrorLimitBox* errorLimitField() const { return errorLimit_; }
    QCheckBox* probeBox() const { return probe_; }
    QCheckBox* indexingBox() const { return indexing_; }
    QCheckBox* backupsBox() const { return backups_; }
    QCheckBox* driveSleepBox() const { return driveSleep_; }

  private:
    // updateDefaultsToGui
    void updateDefaults();
    void errorLimitEdited();

    GUIController& hub_;
    ErrorLimitBox* errorLimit_;
    QCheckBox* probe_;
    QCheckBox* indexing_;
    QCheckBox* backups_;
    QCheckBox* driveSleep_;
    bool loading_ = false;
};

} // namespace tolvarin
