#include "qt/StallIndicator.h"

#include <QPainter>
#include <QPalette>

namespace tolvarin {

namespace {
constexpr int kBars = 12;
constexpr int kStepMillis = 80;
} // namespace

StallIndicator::StallIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    timer_.setInterval(kStepMillis);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kBars;
        update();
    });
    setToolTip(QStringLiteral("Turns while the unit is slow to answer"));
}

void StallIndicator::setAnimating(bool animating) {
    if (animating == timer_.isActive()) {
        return;
    }
    if (animating) {
        ++starts_;
        timer_.start();
    } else {
        timer_.stop();
    }
    update();
}

void StallIndicator::paintEvent(QPaintEvent* /*event*/) {
    if (!timer_.isActive()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = qMin(width(), height()) / 2.0 - 1;
    const qreal inner = outer * 0.45;
    QColor color = palette().color(QPalette::WindowText);
    for (int i = 0; i < kBars; ++i) {
        // The newest bar is darkest; the others fade behind it.
        int age = (step_ - i + kBars) % kBars;
        color.setAlphaF(1.0 - 0.8 * age / (kBars - 1));
        painter.setPen(QPen(color, 2.0, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / kBars);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.restore();
    }
}

} // namespace tolvarin
