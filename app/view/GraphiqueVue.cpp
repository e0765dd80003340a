#include "GraphiqueVue.h"

#include <cmath>

#include <QFileInfo>
#include <QPageLayout>
#include <QPdfWriter>
#include <qcustomplot.h>

#include "DonneesAcquisition.h"

namespace {
const QColor Colours[] = {Qt::blue, Qt::red, Qt::darkGreen, Qt::magenta,
                          Qt::darkCyan, Qt::darkYellow, Qt::black, Qt::darkRed};
}

std::vector<TGraphAcquisition *> SetUpChart(QCustomPlot &plot, const TDonneesAcquisition &data,
                                            TGraphAcquisition::KeyKind keys) {
  plot.clearPlottables();
  std::vector<TGraphAcquisition *> graphs;
  for (int i = 0; i < data.Sensors(); ++i) {
    auto *g = new TGraphAcquisition(plot.xAxis, plot.yAxis, &data.Series(i), &data.Times());
    g->SetKeyKind(keys);
    g->setName(data.Sensor(i).name);
    g->setPen(QPen(Colours[static_cast<std::size_t>(i) % std::size(Colours)], 1));
    graphs.push_back(g);
  }
  if (keys == TGraphAcquisition::KeyKind::Time) {
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC);
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm:ss"));
    plot.xAxis->setTicker(ticker);
    plot.xAxis->setLabel(QStringLiteral("Date and time"));
  } else {
    plot.xAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    plot.xAxis->setLabel(QStringLiteral("Sample"));
  }
  plot.yAxis->setLabel(data.Unit());
  plot.legend->setVisible(true);
  return graphs;
}

void RefreshChart(const std::vector<TGraphAcquisition *> &graphs) {
  for (TGraphAcquisition *g : graphs) g->DataAppended();
}

void ShowWholeFile(QCustomPlot &plot, const std::vector<TGraphAcquisition *> &graphs) {
  bool anyKey = false, anyValue = false;
  QCPRange keys, values;
  for (TGraphAcquisition *g : graphs) {
    bool found = false;
    const QCPRange k = g->getKeyRange(found);
    if (found) keys = anyKey ? QCPRange(std::min(keys.lower, k.lower), std::max(keys.upper, k.upper)) : k;
    anyKey |= found;
    if (!g->visible()) continue;
    const QCPRange v = g->getValueRange(found);
    if (found) values = anyValue ? QCPRange(std::min(values.lower, v.lower), std::max(values.upper, v.upper)) : v;
    anyValue |= found;
  }
  if (anyKey) plot.xAxis->setRange(keys.lower, keys.upper > keys.lower ? keys.upper : keys.lower + 1);
  if (anyValue) {
    const double margin = std::max(1e-6, 0.05 * (values.upper - values.lower));
    plot.yAxis->setRange(values.lower - margin, values.upper + margin);
  }
}

bool SaveChartPng(QCustomPlot &plot, const QString &path, QSize size, QString *error) {
  if (plot.savePng(path, size.width(), size.height())) return true;
  if (error) *error = QStringLiteral("cannot write %1").arg(path);
  return false;
}

bool SaveChartPdf(QCustomPlot &plot, const QString &path, QString *error) {
  if (plot.savePdf(path, 1123, 794)) return true;  // A4 landscape at 96 dpi
  if (error) *error = QStringLiteral("cannot write %1").arg(path);
  return false;
}
