#include "qt/PictureWidgets.h"

#include "qt/pictures/PictureDrawing.h"

#include <QPainter>

namespace tolvarin {

SurfaceMapWidget::SurfaceMapWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("surfaceMap"));
    setMinimumHeight(160);
    picture_.title = "Surface map";
    picture_.notes.push_back("No surface scan has run yet.");
}

void SurfaceMapWidget::setPicture(SurfaceMapPicture picture) {
    if (picture.cells.empty()) {
        return; // keeps the last map (or the hint) until a scan lays one out
    }
    picture_ = std::move(picture);
    update();
}

void SurfaceMapWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PictureDrawing::drawSurfaceMap(painter, rect(), picture_);
}

IndexTrendWidget::IndexTrendWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("indexTrend"));
    setMinimumHeight(180);
    picture_.title = "Performance indices";
}

void IndexTrendWidget::setPicture(TrendPicture picture) {
    picture_ = std::move(picture);
    update();
}

void IndexTrendWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PictureDrawing::drawIndexTrend(painter, rect(), picture_);
}

} // namespace tolvarin
