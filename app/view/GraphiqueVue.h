// GraphiqueVue: the chart of an acquisition file, the same for the window
// and for the pictures made without one.
//
// One TGraphAcquisition per sensor drawing the data model's own series
// (nothing copied), legend "reference - serial", the file's unit on the
// angle axis, date and time (or sample number) on the key axis. The window
// adds the interaction (zoom, scroll, pointer, selection) on top; --png and
// --pdf draw the whole file with it.
#ifndef NIVELIX_GRAPHIQUEVUE_H
#define NIVELIX_GRAPHIQUEVUE_H

#include <vector>

#include <QSize>
#include <QString>

#include "GraphAcquisition.h"

class QCustomPlot;
class TDonneesAcquisition;

// Empties plot and sets it up for data: one graph per sensor in column
// order (graph i = sensor i, its colour the acquisition frame's colour i),
// the legend shown, axes titled ("Date and time" or "Sample", and the unit),
// keys of the given kind (a QCPAxisTickerDateTime in UTC for Time). Returns
// the graphs. The graphs draw data's series: data must outlive them, and
// after data grew call RefreshChart.
std::vector<TGraphAcquisition *> SetUpChart(QCustomPlot &plot, const TDonneesAcquisition &data,
                                            TGraphAcquisition::KeyKind keys =
                                                TGraphAcquisition::KeyKind::Time);

// After the data grew: every graph takes its new ends. Does not replot.
void RefreshChart(const std::vector<TGraphAcquisition *> &graphs);

// Sets the key axis to the whole file and the value axis to the extremes of
// the shown series (with a small margin). Does not replot.
void ShowWholeFile(QCustomPlot &plot, const std::vector<TGraphAcquisition *> &graphs);

// Writes plot as a PNG of size pixels, or as a one-page landscape PDF, at
// path. True on success; else *error (when given) holds why ("cannot write
// OUT.png: Permission denied").
bool SaveChartPng(QCustomPlot &plot, const QString &path, QSize size, QString *error = nullptr);
bool SaveChartPdf(QCustomPlot &plot, const QString &path, QString *error = nullptr);

#endif
