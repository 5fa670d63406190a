#pragma once

#include <QTimer>
#include <QWidget>

namespace tolvarin {

// The stall spinner of a pane: a ring of bars that turns while the hub's
// watcher says a read or a seek is overdue, and shows nothing otherwise.
class StallIndicator : public QWidget {
    Q_OBJECT
  public:
    explicit StallIndicator(QWidget* parent = nullptr);

    void setAnimating(bool animating);
    bool isAnimating() const { return timer_.isActive(); }
    // How often the animation was started since creation.
    int starts() const { return starts_; }

    QSize sizeHint() const override { return {22, 22}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int step_ = 0;
    int starts_ = 0;
};

} // namespace tolvarin
