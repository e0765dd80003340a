// nivelix-view's window (offscreen) on a generated acquisition file of 8
// sensors at 1 s: the chart's replot for the whole file and for zooms, then,
// while following, the time from a line's append to the status line showing
// it, and the process's CPU while it waits with nothing appended.
//
//   QT_QPA_PLATFORM=offscreen bench_viewwindow LINES FILE [APPENDS] [IDLE_S] [swing|site]
//
// FILE is written, opened, appended to, then removed.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <qcustomplot.h>

#include "FenetreVue.h"
#include "FichierGenere.h"
#include "Messages.h"

namespace {
double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
// The event loop for ms, or until done() (checked every millisecond).
template <class Done>
bool Run(int ms, Done done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start(1);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}
void Idle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}
struct Stats {
  double median, max;
};
Stats Of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.back()};
}
}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s LINES FILE [APPENDS] [IDLE_S]\n", argv[0]);
    return 2;
  }
  const long long lines = std::atoll(argv[1]);
  const char *path = argv[2];
  const int appends = argc > 3 ? std::atoi(argv[3]) : 20;
  const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 10;
  const auto allure = argc > 5 && std::string(argv[5]) == "site" ? fichiergenere::Allure::Site
                                                                 : fichiergenere::Allure::Swing;
  QApplication app(argc, argv);
  SetMessageAnswerer([](MessageKind, const QString &text, QMessageBox::StandardButtons) {
    std::fprintf(stderr, "told: %s\n", text.toLocal8Bit().constData());
    return QMessageBox::Ok;
  });
  if (!fichiergenere::Write(path, lines, allure)) return 2;
  int status = 0;
  {
    TFenetreVue window;
    window.resize(1600, 900);
    window.show();
    // The file is read a slice at a time between the window's events: the
    // time until all is read, and the longest the window went without
    // handling an event meanwhile (a 5 ms timer's largest gap).
    const double o0 = Now();
    if (!window.Open(QString::fromLocal8Bit(path))) {
      std::remove(path);
      return 1;
    }
    double lastTick = Now(), longestGap = lastTick - o0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const double t = Now();
      longestGap = std::max(longestGap, t - lastTick);
      lastTick = t;
    });
    ticker.start(5);
    Run(600000, [&] { return !window.Reading(); });
    ticker.stop();
    std::printf("open: %.2f s, %lld samples, 8 sensors; the window answered within %.0f ms throughout\n",
                Now() - o0, static_cast<long long>(window.Data().Samples()), longestGap * 1000);
    Idle(200);
    QCustomPlot *chart = window.Graphique();
    const QCPRange whole = chart->xAxis->range();
    const int pixels = chart->axisRect()->width();
    const double span = whole.size();
    struct Zoom {
      const char *name;
      double fraction;
    };
    // The deep zoom shows one minute.
    const Zoom zooms[] = {{"whole file", 1.0}, {"a half", 0.5}, {"a tenth", 0.1},
                          {"a thousandth", 0.001}, {"deep (60 samples)", 60.0 / span}};
    // More for a profiler: NIVELIX_BENCH_REPEATS.
    const int repeats = std::getenv("NIVELIX_BENCH_REPEATS") ? std::atoi(std::getenv("NIVELIX_BENCH_REPEATS")) : 50;
    std::printf("chart %d x %d pixels, axis rect %d pixels wide; %d replots each\n", chart->width(),
                chart->height(), pixels, repeats);
    for (const Zoom &z : zooms) {
      const double lo = whole.lower + span * (1 - z.fraction) / 2, hi = lo + span * z.fraction;
      if (z.fraction < 1)
        chart->xAxis->setRange(lo, hi);
      else
        window.ShowWhole();
      chart->replot(QCustomPlot::rpImmediateRefresh);
      // Each replot a view of its own (moved by a millionth), so that
      // nothing drawn for the one before is kept.
      const QCPRange view = chart->xAxis->range();
      const auto nudge = [&](int k) {
        chart->xAxis->setRange(view.lower + (k % 2) * 1e-6 * view.size(), view.upper + (k % 2) * 1e-6 * view.size());
      };
      std::vector<double> replot, summary;
      for (int k = 0; k < repeats; ++k) {
        nudge(k);
        const double a = Now();
        chart->replot(QCustomPlot::rpImmediateRefresh);
        replot.push_back((Now() - a) * 1000);
      }
      std::size_t points = 0;
      for (int k = 0; k < repeats; ++k) {
        const QCPRange r = chart->xAxis->range();
        const double a = Now();
        points = 0;
        for (int s = 0; s < window.Data().Sensors(); ++s)
          points += window.Series(s)->LinePoints(r.lower, r.upper, pixels).size();
        summary.push_back((Now() - a) * 1000);
      }
      // What the painting of the lines costs: the same replot with the
      // lines drawn without antialiasing, and with no series at all (axes,
      // grid, legend and the copy to the window).
      const auto times = [&](auto &&set, auto &&reset) {
        set();
        chart->replot(QCustomPlot::rpImmediateRefresh);
        std::vector<double> v;
        for (int k = 0; k < repeats; ++k) {
          nudge(k);
          const double a = Now();
          chart->replot(QCustomPlot::rpImmediateRefresh);
          v.push_back((Now() - a) * 1000);
        }
        reset();
        return Of(v);
      };
      const Stats aliased = times([&] { chart->setNotAntialiasedElements(QCP::aePlottables); },
                                  [&] { chart->setNotAntialiasedElements(QCP::aeNone); });
      const auto shown = [&](bool on) {
        for (int s = 0; s < window.Data().Sensors(); ++s) window.Series(s)->setVisible(on);
      };
      const Stats bare = times([&] { shown(false); }, [&] { shown(true); });
      const Stats rs = Of(replot), ss = Of(summary);
      std::printf("%s: replot median %.3f ms, max %.3f ms; line points of 8 series median %.3f ms, max %.3f ms "
                  "(%zu points); replot without antialiasing median %.3f ms, max %.3f ms; without series "
                  "median %.3f ms, max %.3f ms\n",
                  z.name, rs.median, rs.max, ss.median, ss.max, points, aliased.median, aliased.max, bare.median,
                  bare.max);
    }
    window.ShowWhole();

    // Following.
    window.SetFollowing(true);
    Idle(500);
    if (!window.Following()) {
      std::fprintf(stderr, "not following\n");
      status = 1;
    }
    QObject *label = window.findChild<QObject *>("LabelEtat");
    QWidget *labelWidget = qobject_cast<QWidget *>(label);
    const int fd = ::open(path, O_WRONLY | O_APPEND);
    std::vector<double> latency;
    char line[256];
    for (int i = 0; i < appends && fd >= 0 && labelWidget; ++i) {
      Idle(1500);
      const long long k = lines + i;
      const int n = fichiergenere::Line(k, line, sizeof line, allure);
      const QString want = QString("%1 samples").arg(k + 1);
      if (::write(fd, line, static_cast<std::size_t>(n)) != n) break;
      const double a = Now();
      const bool shown = Run(5000, [&] { return labelWidget->accessibleName().contains(want); });
      const double ms = (Now() - a) * 1000;
      if (!shown) {
        std::fprintf(stderr, "append %d not shown within 5 s: %s\n", i,
                     labelWidget->accessibleName().toLocal8Bit().constData());
        status = 1;
      }
      latency.push_back(ms);
    }
    if (fd >= 0) ::close(fd);
    if (!latency.empty()) {
      const Stats l = Of(latency);
      std::printf("following: %zu appends, one every 1.5 s: shown after median %.0f ms, max %.0f ms\n",
                  latency.size(), l.median, l.max);
    }
    const double c0 = CpuSeconds(), w0 = Now();
    Idle(idleSeconds * 1000);
    const double cpu = CpuSeconds() - c0, wall = Now() - w0;
    std::printf("idle while following, %.1f s: CPU %.2f ms a second (%.3f %% of a core)\n", wall,
                cpu * 1000 / wall, cpu * 100 / wall);
    // The same wait with following off: what the window costs without it.
    window.SetFollowing(false);
    const double c1 = CpuSeconds(), w1 = Now();
    Idle(idleSeconds * 1000);
    const double cpuOff = CpuSeconds() - c1, wallOff = Now() - w1;
    std::printf("idle, following off, %.1f s: CPU %.2f ms a second (%.3f %% of a core)\n", wallOff,
                cpuOff * 1000 / wallOff, cpuOff * 100 / wallOff);
  }
  std::remove(path);
  SetMessageAnswerer({});
  return status;
}
