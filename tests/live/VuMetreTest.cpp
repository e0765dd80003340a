// The horizon picture: geometry of the circle and chord, pixels of the
// drawn picture, and the window around it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <QLabel>
#include <QPushButton>

#include "FicheVuMetre.h"

namespace {

bool Black(const QImage &image, int x, int y) {
  return image.pixelColor(x, y) == QColor(Qt::black);
}
bool White(const QImage &image, int x, int y) {
  return image.pixelColor(x, y) == QColor(Qt::white);
}

QImage Picture(int width, int height, double angle, HorizonReading reading) {
  QImage image;
  DrawHorizon(image,
              HorizonFor(width, height + TVuMetre::BarHeight, TVuMetre::BarHeight, angle, reading));
  return image;
}

struct GeometryRow {
  int clientWidth, clientHeight;
  double angle;
  int cx, cy, r, startX, startY, endX, endY;
};

TEST(HorizonGeometry, CentreRadiusAndChordEnds) {
  const GeometryRow rows[] = {
      {200, 240, 0.0, 100, 100, 100, 0, 100, 200, 100},
      {200, 240, 100.0, 100, 100, 100, 0, 90, 200, 110},  // 99.50 -> 100, 9.98 -> 10
      {200, 240, -100.0, 100, 100, 100, 0, 110, 200, 90},
      {200, 240, 1000.0 * M_PI / 2, 100, 100, 100, 100, 0, 100, 200},
      {300, 140, 0.0, 150, 50, 50, 100, 50, 200, 50},    // r is half the shorter side
      {201, 241, 0.0, 100, 100, 100, 0, 100, 200, 100},  // integer division
      {92, 66, 0.0, 46, 13, 13, 33, 13, 59, 13},         // the smallest window still draws
  };
  for (const auto &row : rows) {
    const HorizonGeometry g = HorizonFor(row.clientWidth, row.clientHeight, 40, row.angle);
    EXPECT_EQ(g.cx, row.cx);
    EXPECT_EQ(g.cy, row.cy);
    EXPECT_EQ(g.r, row.r);
    EXPECT_EQ(g.StartX(), row.startX) << row.angle;
    EXPECT_EQ(g.StartY(), row.startY) << row.angle;
    EXPECT_EQ(g.EndX(), row.endX) << row.angle;
    EXPECT_EQ(g.EndY(), row.endY) << row.angle;
  }
}

struct PictureRow {
  int width, height;
  double angle;
  std::vector<QPoint> black, white;
  HorizonReading reading = HorizonReading::Measured;
  std::vector<QPoint> grey = {};
};

TEST(HorizonPicture, BlackBelowTheBoundary) {
  const PictureRow rows[] = {
      // Level: the lower half is black; outside the circle stays white.
      {200,
       200,
       0.0,
       {{100, 150}, {20, 105}, {100, 195}, {100, 0}},
       {{100, 50}, {20, 95}, {3, 196}}},
      // 100 mRad: the boundary runs from about (0, 90) to (200, 110).
      {200, 200, 100.0, {{20, 97}, {100, 105}, {180, 113}}, {{20, 87}, {100, 95}, {180, 103}}},
      // A quarter turn: the left half is black.
      {200, 200, 1000.0 * M_PI / 2, {{50, 100}, {95, 20}}, {{150, 100}, {105, 180}}},
      // 300 x 100: r = 50 at (150, 50).
      {300, 100, 0.0, {{150, 90}, {105, 55}, {195, 55}}, {{95, 55}, {205, 55}, {150, 45}}},
      // No reading: a grey disc without a boundary, whatever angle it left;
      // an angle that is not a number is no reading either.
      {200, 200, 0.0, {}, {{3, 196}}, HorizonReading::Missing,
       {{100, 150}, {100, 50}, {20, 105}, {20, 95}}},
      {200, 200, 100.0, {}, {{3, 196}}, HorizonReading::Missing, {{20, 97}, {180, 103}}},
      {200, 200, std::nan(""), {}, {{3, 196}}, HorizonReading::Measured, {{100, 150}, {100, 50}}},
  };
  for (const auto &row : rows) {
    const QImage image = Picture(row.width, row.height, row.angle, row.reading);
    ASSERT_EQ(image.size(), QSize(row.width, row.height));
    const std::pair<const std::vector<QPoint> &, QColor> colours[] = {
        {row.black, Qt::black}, {row.white, Qt::white}, {row.grey, NoReadingFill()}};
    for (const auto &[points, colour] : colours)
      for (const QPoint &p : points)
        EXPECT_EQ(image.pixelColor(p), colour) << row.angle << " at " << p.x() << "," << p.y();
  }
}

TEST(VuMetreWindow, PaintsItsBufferKeepsAnglesWhileHiddenAndHidesOnClose) {
  TVuMetre window(nullptr);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_EQ(window.windowTitle(), "Horizon");
  window.show();
  window.resize(200, 240);
  EXPECT_EQ(window.Reading(), HorizonReading::Missing) << "nothing read yet";
  EXPECT_EQ(window.grab().toImage().pixelColor(100, 150), NoReadingFill());
  window.SetAngle(0.0);
  const QImage shown = window.grab().toImage();
  EXPECT_EQ(window.Buffer().size(), QSize(200, 200));
  EXPECT_EQ(shown.pixelColor(100, 150), QColor(Qt::black));
  EXPECT_EQ(shown.pixelColor(100, 50), QColor(Qt::white));
  EXPECT_EQ(window.BarreBoutons->geometry(), QRect(0, 200, 200, 40));
  EXPECT_GE(window.BoutFerme->width(), window.BoutFerme->sizeHint().width());

  window.BoutFerme->click();
  EXPECT_FALSE(window.isVisible());
  window.SetAngle(1000.0 * M_PI / 2);
  EXPECT_DOUBLE_EQ(window.Angle(), 1000.0 * M_PI / 2);
  EXPECT_EQ(window.Buffer().pixelColor(50, 100), QColor(Qt::black));

  window.resize(10, 10);
  EXPECT_GE(window.height(), TVuMetre::BarHeight + 20) << "a drawing area always remains";
}

}  // namespace
