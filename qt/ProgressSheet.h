#pragma once

#include <QDialog>

class QLabel;

namespace tolvarin {

// The progress sheet: a short modal notice with a busy bar while the program
// does something the user waits for (a service switched, the disks listed).
class ProgressSheet : public QDialog {
    Q_OBJECT
  public:
    explicit ProgressSheet(QWidget* parent);

    // Shows the notice with message and paints it at once: the caller
    // usually blocks right after.
    void showMessage(const QString& message);
    void finish();
    QString message() const;

  private:
    QLabel* label_;
};

} // namespace tolvarin
