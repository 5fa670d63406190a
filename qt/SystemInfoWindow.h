#pragma once

#include <QDialog>

namespace tolvarin {

class SystemInfo;

// The system information window: the facts collected at start-up about the
// user and the machine.
class SystemInfoWindow : public QDialog {
    Q_OBJECT
  public:
    SystemInfoWindow(const SystemInfo& info, QWidget* parent = nullptr);
};

} // namespace tolvarin
