#pragma once

#include "base/PictureData.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <functional>

namespace tolvarin {

// The drawing of the pictures with QPainter: the same code paints a widget
// of the desktop face and the PNG images the report and the terminal get.
// Every function fills the whole rectangle it is given (a white ground,
// the title on top, the notes below).
namespace PictureDrawing {

// The surface map as a grid of its stretches in order, coloured by latency
// class; unreadable stretches crossed out, doubtful ones hatched, the
// stretch at the reading position framed.
void drawSurfaceMap(QPainter& painter, const QRect& area, const SurfaceMapPicture& picture);
// The latency histogram on a logarithmic time axis (1 us to 100 s) with
// logarithmic bar heights, so that a handful of slow reads beside millions
// of fast ones still shows.
void drawLatencyHistogram(QPainter& painter, const QRect& area, const HistogramPicture& picture);
// The baseline-change map: the stretches coloured by their rate now over
// their rate in the baseline test; slowed stretches in red.
void drawBaselineChange(QPainter& painter, const QRect& area, const BaselineChangePicture& picture);
// The four performance indices over the tests, one small chart each.
void drawIndexTrend(QPainter& painter, const QRect& area, const TrendPicture& picture);

// The colours of the latency classes and of the change ratios.
QColor colourOf(LatencyClass latency);
QColor colourOfRatio(double ratio, double threshold, bool slowed);

// Where a map's grid lies inside the picture's area (noteCount notes under
// it), and where the grid puts cell index of count cells: for a face that
// wants to know what lies under the pointer.
QRect mapGrid(const QRect& area, int noteCount);
QRect gridCell(const QRect& grid, int count, int index);

// A picture of width x height drawn by draw, as the bytes of a PNG file
// (empty when it could not be encoded).
QByteArray renderPng(int width, int height,
                     const std::function<void(QPainter&, const QRect&)>& draw);

} // namespace PictureDrawing

} // namespace tolvarin
