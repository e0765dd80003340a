#include "ImpressionGraphique.h"

#include <algorithm>
#include <functional>
#include <vector>

#include <QPrinter>
#include <qcustomplot.h>

namespace {

// For the time of a print, the chart's fonts given in points are given in the
// pixels they take on screen. A point size is measured against the device:
// on a printer of 1200 dots per inch it was turned into dots and then scaled
// again with the chart, which drew every label many times too tall. Pixels
// are scaled with the chart only, as everything else on it.
class ScreenPixelFonts {
 public:
  explicit ScreenPixelFonts(QCustomPlot *plot) : m_dpi(std::max(1, plot->logicalDpiY())) {
    for (QCPAxis *axis : plot->axisRect()->axes()) {
      Swap(axis, &QCPAxis::tickLabelFont, &QCPAxis::setTickLabelFont);
      Swap(axis, &QCPAxis::labelFont, &QCPAxis::setLabelFont);
      Swap(axis, &QCPAxis::selectedTickLabelFont, &QCPAxis::setSelectedTickLabelFont);
      Swap(axis, &QCPAxis::selectedLabelFont, &QCPAxis::setSelectedLabelFont);
    }
    for (int i = 0; i < plot->plotLayout()->elementCount(); ++i)
      if (auto *text = qobject_cast<QCPTextElement *>(plot->plotLayout()->elementAt(i)))
        Swap(text, &QCPTextElement::font, &QCPTextElement::setFont);
    if (plot->legend) {
      Swap(plot->legend, &QCPLegend::font, &QCPLegend::setFont);
      for (int i = 0; i < plot->legend->itemCount(); ++i)
        Swap(plot->legend->item(i), &QCPAbstractLegendItem::font, &QCPAbstractLegendItem::setFont);
    }
  }
  ~ScreenPixelFonts() {
    for (auto it = m_restore.rbegin(); it != m_restore.rend(); ++it) (*it)();
  }
  ScreenPixelFonts(const ScreenPixelFonts &) = delete;
  ScreenPixelFonts &operator=(const ScreenPixelFonts &) = delete;

 private:
  template <class T>
  void Swap(T *object, QFont (T::*get)() const, void (T::*set)(const QFont &)) {
    const QFont old = (object->*get)();
    if (old.pixelSize() > 0) return;
    QFont pixels = old;
    pixels.setPixelSize(std::max(1, qRound(old.pointSizeF() * m_dpi / PointsPerInch)));
    (object->*set)(pixels);
    m_restore.push_back([object, set, old] { (object->*set)(old); });
  }

  static constexpr double PointsPerInch = 72.0;
  double m_dpi;
  std::vector<std::function<void()>> m_restore;
};

}  // namespace

QPrinter &SharedChartPrinter() {
  static QPrinter *printer = new QPrinter(QPrinter::HighResolution);
  return *printer;
}

bool DrawChartOnPrinter(QCustomPlot &plot, QPrinter &printer) {
  QCPPainter painter;
  if (!painter.begin(&printer)) return false;
  painter.setMode(QCPPainter::pmVectorized);
  painter.setMode(QCPPainter::pmNoCaching);
  // The chart is laid out on the page as the screen would lay it out on a
  // window of the page's size, then scaled to the page's dots.
  const QRect page = painter.viewport();
  const double screenDpi = std::max(1, plot.logicalDpiY());
  const int width = std::max(1, qRound(page.width() * screenDpi / printer.logicalDpiX()));
  const int height = std::max(1, qRound(page.height() * screenDpi / printer.logicalDpiY()));
  painter.setWindow(0, 0, width, height);
  {
    ScreenPixelFonts fonts(&plot);
    plot.toPainter(&painter, width, height);
  }
  return painter.end();
}
