#include "LigneCommande.h"

#include <cmath>

#include <QApplication>
#include <QDateTime>
#include <qcustomplot.h>

#include "DonneesAcquisition.h"
#include "GraphiqueVue.h"
#include "LecteurAcquisition.h"

namespace {

QByteArray Out(const QString &s) { return s.toLocal8Bit(); }

void Line(std::FILE *f, const QString &s) {
  const QByteArray b = Out(s);
  std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), f);
  std::fputc('\n', f);
}

QString Time(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QString G(double v) {
  if (std::isnan(v)) return QStringLiteral("-");
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6g", v);
  return QString::fromLatin1(buffer);
}

// Reads options.file whole; false (message on err) when it cannot be used.
bool ReadWhole(const QString &file, TDonneesAcquisition &data, std::FILE *err) {
  TLecteurAcquisition reader(data);
  reader.SetFile(file);
  if (reader.Read() == EtatLecture::Unusable) {
    Line(err, reader.Message());
    return false;
  }
  for (const QString &problem : reader.ProblemLines()) Line(err, problem);
  return true;
}

}  // namespace

OptionsVue ParseArguments(const QStringList &arguments) {
  OptionsVue o;
  auto fail = [&](const QString &why) {
    o.action = OptionsVue::Action::Error;
    o.error = why;
    return o;
  };
  for (int i = 0; i < arguments.size(); ++i) {
    const QString &a = arguments[i];
    auto next = [&](QString &into) {
      if (i + 1 >= arguments.size()) return false;
      into = arguments[++i];
      return true;
    };
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      o.action = OptionsVue::Action::Help;
      return o;
    } else if (a == QLatin1String("--stats")) {
      o.action = OptionsVue::Action::Stats;
    } else if (a == QLatin1String("--png") || a == QLatin1String("--pdf")) {
      o.action = a == QLatin1String("--png") ? OptionsVue::Action::Png : OptionsVue::Action::Pdf;
      if (!next(o.output)) return fail(a + QStringLiteral(" needs the file to write"));
    } else if (a == QLatin1String("--size")) {
      QString size;
      if (!next(size)) return fail(QStringLiteral("--size needs WxH"));
      const QStringList wh = size.split(QLatin1Char('x'));
      bool okW = false, okH = false;
      const int w = wh.size() == 2 ? wh[0].toInt(&okW) : 0;
      const int h = wh.size() == 2 ? wh[1].toInt(&okH) : 0;
      if (!okW || !okH || w < 16 || h < 16 || w > 20000 || h > 20000)
        return fail(QStringLiteral("--size: %1 is not WxH (16 to 20000 pixels)").arg(size));
      o.size = QSize(w, h);
    } else if (a.startsWith(QLatin1String("--"))) {
      return fail(QStringLiteral("unknown option %1").arg(a));
    } else if (o.file.isEmpty()) {
      o.file = a;
    } else {
      return fail(QStringLiteral("one file only"));
    }
  }
  if (o.action != OptionsVue::Action::Window && o.file.isEmpty())
    return fail(QStringLiteral("no acquisition file given"));
  return o;
}

QString HelpText() {
  return QStringLiteral(
      "Usage: nivelix-view [FILE]\n"
      "       nivelix-view --stats FILE\n"
      "       nivelix-view --png OUT.png FILE [--size WxH]\n"
      "       nivelix-view --pdf OUT.pdf FILE\n"
      "Charts an acquisition file written by Nivelix or nivelix-record.\n"
      "  (no option)   open the window, with FILE when given\n"
      "  --stats FILE  one line per sensor: samples, failed readings, min, max, mean,\n"
      "                first and last sample time (TAB-separated)\n"
      "  --png OUT     the whole file charted into a PNG picture (default 1600x900)\n"
      "  --size WxH    the size of the PNG picture in pixels\n"
      "  --pdf OUT     the whole file charted on a landscape PDF page\n"
      "  --help        this text\n"
      "Exit status: 0 done, 1 wrong arguments, 2 a file that cannot be used\n"
      "(one line on standard error: FILE: line N: what is wrong).\n");
}

int RunStats(const OptionsVue &options, std::FILE *out, std::FILE *err) {
  TDonneesAcquisition data;
  if (!ReadWhole(options.file, data, err)) return SortieFichier;
  Line(out, QStringLiteral("sensor\tsamples\tfailed\tmin\tmax\tmean\tfirst\tlast"));
  const int64_t n = data.Samples();
  const QString first = n ? Time(data.Times().At(0)) : QStringLiteral("-");
  const QString last = n ? Time(data.Times().At(n - 1)) : QStringLiteral("-");
  for (int i = 0; i < data.Sensors(); ++i) {
    const TSerieAcquisition::Summary s = data.Series(i).SummariseAll();
    Line(out, QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8")
                  .arg(data.Sensor(i).name)
                  .arg(s.samples)
                  .arg(s.failed)
                  .arg(G(s.min), G(s.max), G(s.mean), first, last));
  }
  std::fflush(out);
  return SortieOk;
}

int RunPicture(const OptionsVue &options, std::FILE *err, int &argc, char **argv) {
  TDonneesAcquisition data;
  if (!ReadWhole(options.file, data, err)) return SortieFichier;
  // A site PC without a display draws off screen; the toolkit's chatter
  // (no runtime folder...) is not the user's business on standard error.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) Line(stderr, text);
  });
  QApplication app(argc, argv);
  QCustomPlot plot;
  plot.resize(options.size);
  const std::vector<TGraphAcquisition *> graphs = SetUpChart(plot, data);
  ShowWholeFile(plot, graphs);
  QString error;
  const bool ok = options.action == OptionsVue::Action::Png
                      ? SaveChartPng(plot, options.output, options.size, &error)
                      : SaveChartPdf(plot, options.output, &error);
  if (!ok) {
    Line(err, error);
    return SortieFichier;
  }
  return SortieOk;
}
