#include "qt/pictures/PictureDrawing.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tolvarin {

namespace PictureDrawing {

namespace {

constexpr int kMargin = 12;
constexpr int kTitleHeight = 30;
constexpr int kLegendHeight = 26;
constexpr int kFooterHeight = 17;
constexpr int kNoteHeight = 20;
const QColor kInk(40, 40, 40);
const QColor kFaint(120, 120, 120);
const QColor kFrame(90, 90, 90);
const QColor kPosition(0, 90, 200);

QFont font(int pixels, bool bold = false, bool italic = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString gigabytes(int64_t bytes) {
    double gb = static_cast<double>(bytes) / 1e9;
    return QString::number(gb, 'f', gb < 10 ? 2 : (gb < 1000 ? 1 : 0)) + QStringLiteral(" GB");
}

// What is left of a picture's area below its title and above its notes.
QRect bodyOf(const QRect& area, int noteCount) {
    int notesHeight = noteCount * kNoteHeight;
    return QRect(area.left() + kMargin, area.top() + kTitleHeight + 6, area.width() - 2 * kMargin,
                 std::max(area.height() - kTitleHeight - 10 - notesHeight, 10));
}

// The white ground, the title and the notes; answers the body.
QRect frame(QPainter& p, const QRect& area, const std::string& title,
            const std::vector<std::string>& notes) {
    p.fillRect(area, Qt::white);
    p.setPen(kInk);
    p.setFont(font(17, true));
    p.drawText(
        QRect(area.left() + kMargin, area.top() + 4, area.width() - 2 * kMargin, kTitleHeight),
        Qt::AlignLeft | Qt::AlignVCenter, text(title));
    int notesHeight = static_cast<int>(notes.size()) * kNoteHeight;
    p.setFont(font(13, false, true));
    p.setPen(kFaint);
    int y = area.bottom() - notesHeight - 2;
    for (const std::string& note : notes) {
        p.drawText(QRect(area.left() + kMargin, y, area.width() - 2 * kMargin, kNoteHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, text(note));
        y += kNoteHeight;
    }
    return bodyOf(area, static_cast<int>(notes.size()));
}

// One row of coloured swatches and their names, the font and gaps made
// smaller until the row fits its width (a narrow pane cuts nothing off).
void legend(QPainter& p, const QRect& row, const std::vector<std::pair<QColor, QString>>& items) {
    const int box = 14;
    int size = 13;
    int gap = 18;
    auto width = [&](const QFontMetrics& metrics) {
        int total = 0;
        for (const auto& item : items) {
            total += box + 5 + metrics.horizontalAdvance(item.second) + gap;
        }
        return total - gap;
    };
    while (size > 8 && width(QFontMetrics(font(size))) > row.width()) {
        gap = std::max(8, gap - 4);
        size -= gap == 8 ? 1 : 0;
    }
    p.setFont(font(size));
    QFontMetrics metrics(p.font());
    int x = row.left();
    for (const auto& [colour, name] : items) {
        QRect swatch(x, row.center().y() - box / 2, box, box);
        p.fillRect(swatch, colour);
        p.setPen(kFrame);
        p.drawRect(swatch);
        p.setPen(kInk);
        int w = metrics.horizontalAdvance(name);
        p.drawText(QRect(x + box + 5, row.top(), w + 2, row.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, name);
        x += box + 5 + w + gap;
    }
}

void drawEmpty(QPainter& p, const QRect& area, const QString& message) {
    p.setPen(kFaint);
    p.setFont(font(15, false, true));
    p.drawText(area, Qt::AlignCenter, message);
}

// The grid of a map: the cells' area after the row labels.
QRect gridArea(const QRect& body) {
    return QRect(body.left() + 78, body.top(), body.width() - 80, body.height());
}

void rowLabels(QPainter& p, const QRect& grid, int count,
               const std::function<int64_t(int)>& startOf) {
    if (count <= 0) {
        return;
    }
    p.setFont(font(11));
    p.setPen(kFaint);
    int lastBottom = -1000;
    for (int i = 0; i < count;) {
        QRect cell = gridCell(grid, count, i);
        if (cell.top() >= lastBottom + 2) {
            p.drawText(QRect(grid.left() - 78, cell.top(), 72, std::max(cell.height(), 13)),
                       Qt::AlignRight | Qt::AlignTop, gigabytes(startOf(i)));
            lastBottom = cell.top() + 13;
        }
        // The next row's first cell.
        int next = i + 1;
        while (next < count && gridCell(grid, count, next).top() == cell.top()) {
            ++next;
        }
        i = next;
    }
}

void hatch(QPainter& p, const QRect& cell) {
    p.save();
    p.setClipRect(cell);
    p.setPen(QPen(QColor(255, 255, 255, 230), 1.5));
    for (int x = cell.left() - cell.height(); x < cell.right(); x += 5) {
        p.drawLine(x, cell.bottom(), x + cell.height(), cell.top());
    }
    p.restore();
}

void cross(QPainter& p, const QRect& cell) {
    p.save();
    p.setPen(QPen(Qt::white, std::max(1.0, cell.width() / 8.0)));
    QRect inner =
        cell.adjusted(cell.width() / 5, cell.height() / 5, -cell.width() / 5, -cell.height() / 5);
    p.drawLine(inner.topLeft(), inner.bottomRight());
    p.drawLine(inner.topRight(), inner.bottomLeft());
    p.restore();
}

} // namespace

QColor colourOf(LatencyClass latency) {
    switch (latency) {
    case LatencyClass::under5ms:
        return QColor(214, 214, 214);
    case LatencyClass::under20ms:
        return QColor(160, 160, 160);
    case LatencyClass::under50ms:
        return QColor(105, 105, 105);
    case LatencyClass::under150ms:
        return QColor(44, 160, 44);
    case LatencyClass::under500ms:
        return QColor(255, 140, 0);
    case LatencyClass::from500ms:
        return QColor(214, 39, 40);
    case LatencyClass::unreadable:
        return QColor(30, 60, 190);
    case LatencyClass::notRead:
        break;
    }
    return QColor(250, 250, 250);
}

QColor colourOfRatio(double ratio, double threshold, bool slowed) {
    if (slowed) {
        return QColor(214, 39, 40);
    }
    if (!(ratio == ratio)) {
        return QColor(250, 250, 250);
    }
    if (ratio >= 1.15) {
        return QColor(70, 130, 200);
    }
    if (ratio >= 0.85) {
        return QColor(205, 205, 205);
    }
    if (ratio >= std::max(threshold, 0.0)) {
        return QColor(255, 190, 60);
    }
    return QColor(214, 39, 40);
}

QRect mapGrid(const QRect& area, int noteCount) {
    // Room below the grid for the line that counts the stretches.
    return gridArea(bodyOf(area, noteCount).adjusted(0, kLegendHeight + 6, 0, -kFooterHeight));
}

QRect gridCell(const QRect& area, int count, int index) {
    if (count <= 0 || area.width() <= 0 || area.height() <= 0) {
        return {};
    }
    double aspect = static_cast<double>(area.width()) / area.height();
    int columns = std::clamp(static_cast<int>(std::ceil(std::sqrt(count * aspect))), 1, count);
    int rows = (count + columns - 1) / columns;
    double w = static_cast<double>(area.width()) / columns;
    double h = std::min(static_cast<double>(area.height()) / rows, w * 1.5);
    int column = index % columns;
    int row = index / columns;
    int gap = w >= 5 && h >= 5 ? 1 : 0;
    int left = area.left() + static_cast<int>(std::floor(column * w));
    int top = area.top() + static_cast<int>(std::floor(row * h));
    int right = area.left() + static_cast<int>(std::floor((column + 1) * w));
    int bottom = area.top() + static_cast<int>(std::floor((row + 1) * h));
    return QRect(left, top, std::max(right - left - gap, 1), std::max(bottom - top - gap, 1));
}

void drawSurfaceMap(QPainter& p, const QRect& area, const SurfaceMapPicture& picture) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QRect body = frame(p, area, picture.title, picture.notes);
    std::vector<std::pair<QColor, QString>> items;
    for (int i = 0; i < kLatencyClassCount; ++i) {
        auto c = static_cast<LatencyClass>(i);
        items.emplace_back(colourOf(c), QString::fromLatin1(latencyClassName(c)));
    }
    legend(p, QRect(body.left(), body.top(), body.width(), kLegendHeight), items);
    QRect grid = mapGrid(area, static_cast<int>(picture.notes.size()));
    int count = static_cast<int>(picture.cells.size());
    if (count == 0) {
        drawEmpty(p, grid, QStringLiteral("No stretch of the unit was read."));
        p.restore();
        return;
    }
    rowLabels(p, grid, count, [&](int i) { return picture.cells[static_cast<size_t>(i)].start; });
    for (int i = 0; i < count; ++i) {
        const MapCell& c = picture.cells[static_cast<size_t>(i)];
        QRect cell = gridCell(grid, count, i);
        p.fillRect(cell, colourOf(c.latency));
        if (c.latency == LatencyClass::notRead) {
            p.setPen(QColor(225, 225, 225));
            p.drawRect(cell.adjusted(0, 0, -1, -1));
        }
        if (c.latency == LatencyClass::unreadable) {
            cross(p, cell);
        }
        if (c.doubtful) {
            hatch(p, cell);
        }
        if (picture.position >= c.start && picture.position < c.end) {
            p.setPen(QPen(kPosition, 3));
            p.drawRect(cell.adjusted(-2, -2, 1, 1));
        }
    }
    p.setFont(font(11));
    p.setPen(kFaint);
    QRect last = gridCell(grid, count, count - 1);
    p.drawText(QRect(grid.left(), last.bottom() + 3, grid.width(), 14),
               Qt::AlignRight | Qt::AlignTop,
               QStringLiteral("%1 stretches over %2").arg(count).arg(gigabytes(picture.unitSize)));
    p.restore();
}

void drawLatencyHistogram(QPainter& p, const QRect& area, const HistogramPicture& picture) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QRect body = frame(p, area, picture.title, picture.notes);
    QRect plot = body.adjusted(58, 8, -8, -40);
    uint64_t highest = 0;
    for (uint64_t c : picture.counts) {
        highest = std::max(highest, c);
    }
    p.setPen(kFrame);
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    if (highest == 0) {
        drawEmpty(p, plot, QStringLiteral("Nothing was timed."));
        p.restore();
        return;
    }
    double top = std::log10(static_cast<double>(highest) + 1);
    int buckets = LatencyHistogram::kBuckets;
    double step = static_cast<double>(plot.width()) / buckets;
    for (int i = 0; i < buckets; ++i) {
        uint64_t c = picture.counts[static_cast<size_t>(i)];
        if (c == 0) {
            continue;
        }
        double h = std::log10(static_cast<double>(c) + 1) / top * plot.height();
        int left = plot.left() + static_cast<int>(i * step);
        int width = std::max(static_cast<int>((i + 1) * step) - static_cast<int>(i * step) - 1, 1);
        auto lower = static_cast<int64_t>(LatencyHistogram::lowerMicros(i));
        p.fillRect(QRect(left, plot.bottom() - static_cast<int>(h), width,
                         std::max(static_cast<int>(h), 1)),
                   colourOf(latencyClassOf(lower)));
    }
    // Decades along the time axis, powers of ten up the count axis.
    static const std::array<const char*, 9> decades = {"1 µs",   "10 µs", "100 µs", "1 ms", "10 ms",
                                                       "100 ms", "1 s",   "10 s",   "100 s"};
    p.setFont(font(12));
    for (int d = 0; d < static_cast<int>(decades.size()); ++d) {
        int x = plot.left() + static_cast<int>((1 + d * LatencyHistogram::kPerDecade) * step);
        p.setPen(kFrame);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 5);
        p.setPen(kInk);
        p.drawText(QRect(x - 40, plot.bottom() + 6, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromUtf8(decades[static_cast<size_t>(d)]));
    }
    for (uint64_t v = 1; v <= highest; v *= 10) {
        int y = plot.bottom() -
                static_cast<int>(std::log10(static_cast<double>(v) + 1) / top * plot.height());
        p.setPen(kFrame);
        p.drawLine(plot.left() - 5, y, plot.left(), y);
        p.setPen(kInk);
        p.drawText(QRect(plot.left() - 58, y - 8, 50, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(v));
        if (v > UINT64_MAX / 10) {
            break;
        }
    }
    p.setPen(kFaint);
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 16), Qt::AlignHCenter,
               QStringLiteral("time (logarithmic); bar height: count (logarithmic)"));
    p.restore();
}

void drawBaselineChange(QPainter& p, const QRect& area, const BaselineChangePicture& picture) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QRect body = frame(p, area, picture.title, picture.notes);
    int percent = static_cast<int>(picture.threshold * 100 + 0.5);
    legend(p, QRect(body.left(), body.top(), body.width(), kLegendHeight),
           {{colourOfRatio(1.3, picture.threshold, false), QStringLiteral("faster")},
            {colourOfRatio(1.0, picture.threshold, false), QStringLiteral("unchanged")},
            {colourOfRatio(0.84, 0.0, false), QStringLiteral("slower")},
            {colourOfRatio(0.0, 1.0, true), QStringLiteral("slowed (< %1%)").arg(percent)},
            {colourOfRatio(std::nan(""), 0.0, false), QStringLiteral("not compared")}});
    QRect grid = mapGrid(area, static_cast<int>(picture.notes.size()));
    int count = static_cast<int>(picture.cells.size());
    if (count == 0) {
        drawEmpty(p, grid, QStringLiteral("No stretch to compare."));
        p.restore();
        return;
    }
    rowLabels(p, grid, count, [&](int i) { return picture.cells[static_cast<size_t>(i)].start; });
    for (int i = 0; i < count; ++i) {
        const ChangeCell& c = picture.cells[static_cast<size_t>(i)];
        QRect cell = gridCell(grid, count, i);
        p.fillRect(cell, colourOfRatio(c.ratio, picture.threshold, c.slowed));
        if (!(c.ratio == c.ratio)) {
            p.setPen(QColor(225, 225, 225));
            p.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }
    p.restore();
}

void drawIndexTrend(QPainter& p, const QRect& area, const TrendPicture& picture) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QRect body = frame(p, area, picture.title, picture.notes);
    static const std::array<const char*, 4> names = {"surface linear", "surface ratio",
                                                     "seek linear", "seek ratio"};
    int n = static_cast<int>(picture.points.size());
    if (n == 0) {
        drawEmpty(p, body, QStringLiteral("No test of this unit has measurements."));
        p.restore();
        return;
    }
    QRect charts = body.adjusted(0, 0, 0, -20);
    int panelHeight = charts.height() / 4;
    for (int k = 0; k < 4; ++k) {
        QRect panel(charts.left(), charts.top() + k * panelHeight, charts.width(), panelHeight);
        QRect plot = panel.adjusted(170, 6, -16, -6);
        double lo = 0;
        double hi = 0;
        bool any = false;
        for (const TrendPoint& point : picture.points) {
            if (const auto& v = point.indices[static_cast<size_t>(k)]; v && std::isfinite(*v)) {
                lo = any ? std::min(lo, *v) : *v;
                hi = any ? std::max(hi, *v) : *v;
                any = true;
            }
        }
        p.setPen(kInk);
        p.setFont(font(13, true));
        p.drawText(QRect(panel.left(), panel.top(), 165, panelHeight / 2),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(names[static_cast<size_t>(k)]));
        p.setFont(font(11));
        p.setPen(kFaint);
        p.drawText(QRect(panel.left(), panel.top() + panelHeight / 2, 165, panelHeight / 2),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   any ? QStringLiteral("%1 .. %2").arg(lo, 0, 'g', 5).arg(hi, 0, 'g', 5)
                       : QStringLiteral("not measured"));
        p.setPen(QColor(220, 220, 220));
        p.drawRect(plot);
        if (!any) {
            continue;
        }
        double span = hi - lo > 0 ? hi - lo : std::max(std::fabs(hi), 1.0);
        double base = hi - lo > 0 ? lo : lo - span / 2;
        auto at = [&](int i, double v) {
            double x = n == 1 ? plot.center().x()
                              : plot.left() + 8 + (plot.width() - 16) * i / double(n - 1);
            double y = plot.bottom() - 4 - (plot.height() - 8) * (v - base) / span;
            return QPointF(x, y);
        };
        QPainterPath path;
        bool open = false;
        for (int i = 0; i < n; ++i) {
            const auto& v = picture.points[static_cast<size_t>(i)].indices[static_cast<size_t>(k)];
            if (!v || !std::isfinite(*v)) {
                open = false;
                continue;
            }
            QPointF point = at(i, *v);
            if (open) {
                path.lineTo(point);
            } else {
                path.moveTo(point);
                open = true;
            }
        }
        p.setPen(QPen(kPosition, 2));
        p.drawPath(path);
        p.setBrush(kPosition);
        for (int i = 0; i < n; ++i) {
            const auto& v = picture.points[static_cast<size_t>(i)].indices[static_cast<size_t>(k)];
            if (v && std::isfinite(*v)) {
                p.drawEllipse(at(i, *v), 3.5, 3.5);
            }
        }
        p.setBrush(Qt::NoBrush);
    }
    p.setFont(font(11));
    p.setPen(kFaint);
    QRect dates(charts.left() + 170, charts.bottom() + 2, charts.width() - 186, 16);
    p.drawText(dates, Qt::AlignLeft | Qt::AlignTop, text(picture.points.front().label));
    if (n > 1) {
        p.drawText(dates, Qt::AlignRight | Qt::AlignTop, text(picture.points.back().label));
    }
    p.restore();
}

QByteArray renderPng(int width, int height,
                     const std::function<void(QPainter&, const QRect&)>& draw) {
    QImage image(std::max(width, 16), std::max(height, 16), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        draw(painter, image.rect());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

} // namespace PictureDrawing

} // namespace tolvarin
