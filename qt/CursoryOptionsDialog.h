#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace tolvarin {

class GUIController;

// The cursory options window: which scans to run, whether to attempt a
// repair, and whether the surface scan covers only a range (whole gigabytes).
// It reads the hub's current choice when it opens; OK hands the choice to the
// hub, whose checks raise their messages and keep the window open when one
// fails; only an accepted choice enables the cursory start button.
class CursoryOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    CursoryOptionsDialog(GUIController& hub, QWidget* parent = nullptr);

    QCheckBox* surfaceBox() const { return surface_; }
    QCheckBox* seekBox() const { return seek_; }
    QCheckBox* repairBox() const { return repair_; }
    QCheckBox* limitBox() const { return limit_; }
    QSpinBox* startField() const { return start_; }
    QSpinBox* endField() const { return end_; }
    QSpinBox* queueDepthField() const { return depth_; }

  public slots:
    void okButtonPressed();
    // Cancel: nothing is handed to the hub.
    void reject() override;

  private:
    // windowDidLoad
    void load();
    // Which controls the surface and limit boxes leave enabled.
    void updateEnabled();

    GUIController& hub_;
    QCheckBox* surface_;
    QCheckBox* seek_;
    QCheckBox* repair_;
    QCheckBox* limit_;
    QSpinBox* start_;
    QSpinBox* end_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QSpinBox* depth_;
    bool finished_ = false;
};

} // namespace tolvarin
