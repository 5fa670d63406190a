// The pictures' drawing code on images, with the offscreen platform: the
// colours land where the grid puts each stretch, and the PNG encodes.
#include "qt/pictures/PictureDrawing.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace tolvarin {

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 500;

QImage drawn(const std::function<void(QPainter&, const QRect&)>& draw) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    draw(painter, image.rect());
    painter.end();
    return image;
}

QRect gridOf(int notes) {
    return PictureDrawing::mapGrid(QRect(0, 0, kWidth, kHeight), notes);
}

} // namespace

TEST(PictureDrawing, TheSurfaceMapColoursEachStretchByItsClass) {
    SurfaceMapPicture map;
    map.title = "Surface map";
    map.unitSize = 12;
    for (int i = 0; i < 12; ++i) {
        map.cells.push_back({i, i + 1, LatencyClass::under5ms, false});
    }
    map.cells[3].latency = LatencyClass::from500ms;
    map.cells[7].latency = LatencyClass::unreadable;
    map.cells[9].latency = LatencyClass::under150ms;
    map.cells[9].doubtful = true;
    map.position = 5;
    map.notes = {"one note"};
    QImage image =
        drawn([&](QPainter& p, const QRect& r) { PictureDrawing::drawSurfaceMap(p, r, map); });
    QRect grid = gridOf(1);
    auto colourAt = [&](int index, int dx = 0, int dy = 0) {
        QRect cell = PictureDrawing::gridCell(grid, 12, index);
        return QColor(image.pixel(cell.left() + 3 + dx, cell.top() + 3 + dy));
    };
    EXPECT_EQ(colourAt(0), PictureDrawing::colourOf(LatencyClass::under5ms));
    EXPECT_EQ(colourAt(3), PictureDrawing::colourOf(LatencyClass::from500ms));
    QRect bad = PictureDrawing::gridCell(grid, 12, 7);
    EXPECT_EQ(QColor(image.pixel(bad.left() + 2, bad.bottom() - 2)),
              PictureDrawing::colourOf(LatencyClass::unreadable));
    // The cross of an unreadable stretch is drawn over its middle.
    EXPECT_EQ(QColor(image.pixel(bad.center())), QColor(Qt::white));
    // A doubtful stretch is hatched: its colour and white both appear.
    QRect doubtful = PictureDrawing::gridCell(grid, 12, 9);
    bool white = false;
    bool green = false;
    for (int x = doubtful.left(); x <= doubtful.right(); ++x) {
        QColor c(image.pixel(x, doubtful.center().y()));
        white = white || c.lightness() > 220;
        green = green || c == PictureDrawing::colourOf(LatencyClass::under150ms);
    }
    EXPECT_TRUE(white && green);
    // The reading position frames its stretch.
    QRect at = PictureDrawing::gridCell(grid, 12, 5);
    EXPECT_EQ(QColor(image.pixel(at.left() - 1, at.center().y())).blue(), 200);
    // Nothing black is left of the ground: the whole area was drawn.
    EXPECT_NE(QColor(image.pixel(kWidth - 1, kHeight - 1)), QColor(Qt::black));
}

TEST(PictureDrawing, TheBaselineChangeMapShowsSlowedStretchesInRed) {
    BaselineChangePicture change;
    change.threshold = 0.5;
    for (int i = 0; i < 6; ++i) {
        change.cells.push_back({i, i + 1, 1.0, false});
    }
    change.cells[2].ratio = 0.3;
    change.cells[2].slowed = true;
    change.cells[4].ratio = std::nan("");
    QImage image = drawn(
        [&](QPainter& p, const QRect& r) { PictureDrawing::drawBaselineChange(p, r, change); });
    QRect grid = gridOf(0);
    auto colourAt = [&](int index) {
        return QColor(image.pixel(PictureDrawing::gridCell(grid, 6, index).center()));
    };
    EXPECT_EQ(colourAt(2), PictureDrawing::colourOfRatio(0.3, 0.5, true));
    EXPECT_EQ(colourAt(2), QColor(214, 39, 40));
    EXPECT_EQ(colourAt(0), PictureDrawing::colourOfRatio(1.0, 0.5, false));
    EXPECT_NE(colourAt(0), colourAt(2));
    EXPECT_EQ(colourAt(4), PictureDrawing::colourOfRatio(std::nan(""), 0.5, false));
}

TEST(PictureDrawing, HistogramAndTrendEncodeAsPngEvenWhenEmpty) {
    HistogramPicture histogram;
    histogram.counts[static_cast<size_t>(LatencyHistogram::bucketOf(2000))] = 1000000;
    histogram.counts[static_cast<size_t>(LatencyHistogram::bucketOf(700000))] = 1;
    TrendPicture trend;
    trend.points.push_back({"first", {20.0, 1.5, 9.0, std::nullopt}});
    trend.points.push_back({"second", {21.0, 1.4, 9.5, std::nullopt}});
    for (const auto& draw : std::vector<std::function<void(QPainter&, const QRect&)>>{
             [&](QPainter&p, const QRect&r) {
                 PictureDrawing::drawLatencyHistogram(p, r, histogram);
             },
             [&](QPainter&p, const QRect&r) { PictureDrawing::drawIndexTrend(p, r, trend); },
             [&](QPainter&p, const QRect&r) {
                 PictureDrawing::drawLatencyHistogram(p, r, HistogramPicture{});
             },
             [&](QPainter&p, const QRect&r) {
                 PictureDrawing::drawIndexTrend(p, r, TrendPicture{});
             },
             [&](QPainter&p, const QRect&r) {
                 PictureDrawing::drawSurfaceMap(p, r, SurfaceMapPicture{});
             }}) {
        QByteArray png = PictureDrawing::renderPng(640, 320, draw);
        ASSERT_GT(png.size(), 100);
        EXPECT_EQ(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    }
}

} // namespace tolvarin

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
