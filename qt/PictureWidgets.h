#pragma once

#include "base/PictureData.h"

#include <QWidget>

namespace tolvarin {

// The surface map of the test under way, drawn by the same code as the
// report's picture: coloured by latency class, unreadable stretches crossed
// out, the stretch being read framed. The window hands it the hub's live map
// on each redraw.
class SurfaceMapWidget : public QWidget {
    Q_OBJECT
  public:
    explicit SurfaceMapWidget(QWidget* parent = nullptr);

    void setPicture(SurfaceMapPicture picture);
    const SurfaceMapPicture& picture() const { return picture_; }
    QSize sizeHint() const override { return {640, 220}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    SurfaceMapPicture picture_;
};

// The four performance indices of the selected unit over its stored tests.
class IndexTrendWidget : public QWidget {
    Q_OBJECT
  public:
    explicit IndexTrendWidget(QWidget* parent = nullptr);

    void setPicture(TrendPicture picture);
    const TrendPicture& picture() const { return picture_; }
    QSize sizeHint() const override { return {640, 260}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TrendPicture picture_;
};

} // namespace tolvarin
