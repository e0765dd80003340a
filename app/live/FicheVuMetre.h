// FicheVuMetre: the horizon window of an angle panel.
//
// A circle whose lower half is black, the boundary turning with the angle:
// a positive angle raises its left end. Without a reading (none yet, or the
// last one failed) the disc is grey and has no boundary: a level horizon
// would tell the user the sensor reads 0. The picture is drawn into an
// off-screen image and copied to the window in one piece, so repainting
// several times a second never flickers. The window stays on top, has no
// title-bar buttons and is hidden (never destroyed) by its Close button; it
// keeps taking angles while hidden.
#ifndef NIVELIX_FICHEVUMETRE_H
#define NIVELIX_FICHEVUMETRE_H

#include <QColor>
#include <QImage>
#include <QWidget>

class QLabel;
class QPushButton;

// Whether the horizon has an angle to show.
enum class HorizonReading {
  Measured,  // the latest reading succeeded: black half-disc below the boundary
  Missing,   // no reading yet, or the latest failed: a grey disc, no boundary
};

// Where the horizon goes in a drawing area (all in pixels, integer maths).
struct HorizonGeometry {
  HorizonReading reading = HorizonReading::Measured;
  int width = 0, height = 0;  // the picture: client width by client height minus the button bar
  int cx = 0, cy = 0;         // centre of the circle
  int r = 0;                  // radius: half the shorter side of the picture
  int dx = 0, dy = 0;         // cos and sin of the angle times r, rounded half to even
  // The chord's arc runs counterclockwise on the screen from the radial
  // through (cx - dx, cy - dy) to the radial through (cx + dx, cy + dy).
  int StartX() const { return cx - dx; }
  int StartY() const { return cy - dy; }
  int EndX() const { return cx + dx; }
  int EndY() const { return cy + dy; }
};

// The geometry for a client area and an angle in mRad. An angle that is not
// a finite number is no reading either.
HorizonGeometry HorizonFor(int clientWidth, int clientHeight, int barHeight, double angleMRad,
                           HorizonReading reading = HorizonReading::Measured);

// Sizes buffer to the picture and draws it: white, a white disc outlined in
// black, and the black half-disc below the boundary; without a reading a
// grey disc outlined in grey.
void DrawHorizon(QImage &buffer, const HorizonGeometry &g);

// The disc's fill and outline without a reading.
inline QColor NoReadingFill() { return QColor(192, 192, 192); }
inline QColor NoReadingOutline() { return QColor(128, 128, 128); }

class TVuMetre : public QWidget {
  Q_OBJECT
 public:
  // A top-level window owned by owner (destroyed with it).
  explicit TVuMetre(QWidget *owner);

  // Height of the button bar along the bottom.
  static constexpr int BarHeight = 40;

  // Stores the angle (mRad) and whether it was measured, and repaints at
  // once. A failed reading's angle is kept but not drawn.
  void SetAngle(double angle, HorizonReading reading = HorizonReading::Measured);
  double Angle() const { return m_angle; }
  HorizonReading Reading() const { return m_reading; }
  // The sensor's text under the horizon, drawn smaller where it would run
  // under the Close button.
  void SetExplication(const QString &text);
  // The last picture drawn.
  const QImage &Buffer() const { return m_buffer; }

  QWidget *BarreBoutons;
  QLabel *LabelExplication;
  QPushButton *BoutFerme;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  void FormPaint();
  void ImprimeBuffer(QWidget *target);
  void PlaceBar();

  double m_angle = 0.0;
  // Nothing has been read when the window opens.
  HorizonReading m_reading = HorizonReading::Missing;
  QImage m_buffer;
};

#endif
