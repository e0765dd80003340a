// The horizon picture: geometry of the circle and chord, pixels of the
// drawn picture, and the window around it.
#include <gtest/gtest.h>

#include <cmath>

#include <QLabel>
#include <QPushButton>

#include "FicheVuMetre.h"

namespace {

bool Black(const QImage &image, int x, int y) { return image.pixelColor(x, y) == QColor(Qt::black); }
bool White(const QImage &image, int x, int y) { return image.pixelColor(x, y) == QColor(Qt::white); }

QImage Picture(int width, int height, double angle) {
  QImage image;
  DrawHorizon(image, HorizonFor(width, height + TVuMetre::BarHeight, TVuMetre::BarHeight, angle));
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
      {200, 240, 100.0, 100, 100, 100, 0, 90, 200, 110},     // 99.50 -> 100, 9.98 -> 10
      {200, 240, -100.0, 100, 100, 100, 0, 110, 200, 90},
      {200, 240, 1000.0 * M_PI / 2, 100, 100, 100, 100, 0, 100, 200},
      {300, 140, 0.0, 150, 50, 50, 100, 50, 200, 50},        // r is half the shorter side
      {201, 241, 0.0, 100, 100, 100, 0, 100, 200, 100},      // integer division
      {92, 66, 0.0, 46, 13, 13, 33, 13, 59, 13},             // the smallest window still draws
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

TEST(HorizonPicture, LowerHalfBlackAtZero) {
  const QImage image = Picture(200, 200, 0.0);
  ASSERT_EQ(image.size(), QSize(200, 200));
  EXPECT_TRUE(Black(image, 100, 150));
  EXPECT_TRUE(Black(image, 20, 105));
  EXPECT_TRUE(Black(image, 100, 195));
  EXPECT_TRUE(White(image, 100, 50));
  EXPECT_TRUE(White(image, 20, 95));
  EXPECT_TRUE(White(image, 3, 196)) << "outside the circle";
  EXPECT_TRUE(Black(image, 100, 0)) << "the circle's outline";
}

TEST(HorizonPicture, PositiveAngleRaisesTheLeftEnd) {
  // Boundary from about (0, 90) to (200, 110): y = 90 + x / 10.
  const QImage image = Picture(200, 200, 100.0);
  for (int x : {20, 60, 100, 140, 180}) {
    const int y = 90 + x / 10;
    EXPECT_TRUE(White(image, x, y - 5)) << x;
    EXPECT_TRUE(Black(image, x, y + 5)) << x;
  }
}

TEST(HorizonPicture, QuarterTurnMakesTheLeftHalfBlack) {
  const QImage image = Picture(200, 200, 1000.0 * M_PI / 2);
  EXPECT_TRUE(Black(image, 50, 100));
  EXPECT_TRUE(Black(image, 95, 20));
  EXPECT_TRUE(White(image, 150, 100));
  EXPECT_TRUE(White(image, 105, 180));
}

TEST(HorizonPicture, WideAreaCentresACircleOfHalfTheHeight) {
  const QImage image = Picture(300, 100, 0.0);
  EXPECT_TRUE(Black(image, 150, 90));
  EXPECT_TRUE(Black(image, 105, 55));
  EXPECT_TRUE(White(image, 95, 55)) << "left of the circle";
  EXPECT_TRUE(White(image, 205, 55)) << "right of the circle";
  EXPECT_TRUE(Black(image, 100, 49) || Black(image, 100, 50)) << "leftmost point of the outline";
}

TEST(VuMetreWindow, PaintsItsBufferKeepsAnglesWhileHiddenAndHidesOnClose) {
  TVuMetre window(nullptr);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_EQ(window.windowTitle(), "Horizon");
  window.show();
  window.resize(200, 240);
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
