// ImpressionGraphique: a chart on paper, the same for nivelix3's acquisition
// frame and for nivelix-view.
#ifndef NIVELIX_IMPRESSIONGRAPHIQUE_H
#define NIVELIX_IMPRESSIONGRAPHIQUE_H

class QCustomPlot;
class QPrinter;

// The printer charts go to, kept for the whole run of the program as the
// platform's printer object is: callers restore its orientation after each
// print. Never destroyed: a printer released after the application object
// could take the print support down with it at exit.
QPrinter &SharedChartPrinter();

// Draws plot on printer's page (in the orientation the printer is set to),
// laid out as the screen would lay it out on a window of the page's size,
// with the fonts in the pixels they take on screen. The plot keeps the
// print's layout until its next replot. True when it was drawn.
bool DrawChartOnPrinter(QCustomPlot &plot, QPrinter &printer);

#endif
