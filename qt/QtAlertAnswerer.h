#pragma once

#include "logging/MessageCenter.h"

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>

class QMessageBox;

namespace tolvarin {

// Puts the numbered messages to the user as message boxes: the title as the
// heading, the text below it, the buttons in the designed places (the
// default one rightmost and marked, the alternate one to its left, the other
// one leftmost). A message raised on a worker thread is shown on the main
// thread while the worker waits for the answer.
class QtAlertAnswerer : public AlertAnswerer {
  public:
    explicit QtAlertAnswerer(QWidget* parent = nullptr);

    // AlertAnswerer: from any thread.
    int answer(const Alert& alert) override;
    // Shows the box and waits for the user; main thread only.
    int show(const Alert& alert);

    // While the program quits after the user chose to, nobody is asked any
    // more: every message takes its safe answer (the stop questions end the
    // test and keep its data).
    void setQuitting(bool quitting) { quitting_.store(quitting); }
    bool quitting() const { return quitting_.load(); }

    // The box for an alert, not yet shown: its buttons carry their answer in
    // the "answer" property.
    static std::unique_ptr<QMessageBox> makeBox(const Alert& alert, QWidget* parent);

  private:
    QPointer<QWidget> parent_;
    std::atomic<bool> quitting_{false};
};

} // namespace tolvarin
