// E2eFixture: the whole program as a user meets it. The six windows are
// created as the program's entry creates them, in a fresh working folder,
// with COM1 pointing at a simulated RS485 bus; the test drives the main
// window's menu actions and the dialogs' buttons by their object names.
// Message boxes are answered (and recorded) instead of shown.
#ifndef NIVELIX_TESTS_E2EFIXTURE_H
#define NIVELIX_TESTS_E2EFIXTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "AfficheAngle.h"
#include "AsUnprivileged.h"
#include "CadreAcquisition.h"
#include "DefCom72500.h"
#include "DefCom72800.h"
#include "DialogCapteur.h"
#include "DialogConfigAcqu.h"
#include "ListeAfficheAngle.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "QtWait.h"
#include "SimFixture.h"
#include "ThreadSec.h"
#include "dialogconfig.h"
#include "globales.h"
#include "langue.h"
#include "principale.h"
#include "VerrouPort.h"


namespace e2e {

using ::WaitUntil;

template <class W>
W *Child(const QObject *parent, const char *name) {
  W *w = parent ? parent->findChild<W *>(QString::fromLatin1(name)) : nullptr;
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// The number shown in a text such as "12.50 mm/m" (either decimal mark).
inline double Number(QString text) {
  text = text.section(QLatin1Char(' '), 0, 0);
  text.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double v = text.toDouble(&ok);
  return ok ? v : NAN;
}

// The lines of a file without their CRLF ends.
inline QStringList FileLines(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QString text = QString::fromLocal8Bit(f.readAll());
  if (text.endsWith(QLatin1String("\r\n"))) text.chop(2);
  return text.split(QLatin1String("\r\n"));
}

// A sensor of either family at identifier, with its serial number and a
// steady angle.
template <class Config>
Config Steady(uint8_t identifier, const char *serial, double angle) {
  Config c;
  c.identifier = identifier;
  c.serialNumber = serial;
  c.angle = nivsim::AngleSource::constant(angle);
  return c;
}

struct Asked {
  MessageKind kind;
  QString text;
};

class E2eFixture : public SimFixture {
 protected:
  E2eFixture() { comNumber = 1; }

  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    std::setlocale(LC_NUMERIC, "C");
    SimFixture::SetUp();
    SimFixture::PreferRealTime();
    SetMessageAnswerer([this](MessageKind kind, const QString &text, QMessageBox::StandardButtons buttons) {
      asked.push_back({kind, text});
      for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Cancel})
        if (buttons & b) return b;
      return QMessageBox::NoButton;
    });
  }

  void TearDown() override {
    Quit();
    SetMessageAnswerer({});
    Com72500_ClosePort();
    Com72800_ClosePort();
    // Before the pseudo-terminal goes: its number is free for the next test
    // program, which must not find it locked by this one.
    VerrouProgramme().Liberer();
    SimFixture::TearDown();
    QDir::setCurrent(m_previousDir);
  }

  // Starts the program as its entry does: the six windows, the main one shown.
  void Start() {
    CreateWindows();
    FenetrePrincipale->show();
    QCoreApplication::processEvents();
  }

  // File › Quit through the program's event loop, then the windows go as
  // the entry destroys them.
  void Quit() {
    if (!FenetrePrincipale) return;
    QTimer::singleShot(0, Action("MenuQuitter"), &QAction::trigger);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
      ADD_FAILURE() << "Quit did not end the event loop";
      QCoreApplication::exit(1);
    });
    guard.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);
    guard.stop();
    DestroyWindows();
    WaitUntil([] { return TThreadSec::LiveCount() == 0; }, 5000);
  }

  QString Path(const QString &name) const { return m_dir.filePath(name); }

  static QAction *Action(const char *name) {
    return Child<QAction>(FenetrePrincipale, name);
  }
  static QWidget *Config() { return FenetreConfig; }

  // In the configuration dialog: Scan on the sensors tab, and Stop as soon
  // as the progress bar has passed the address lastAddress (the sweep of a
  // whole bus takes over a minute). Returns the lines of the sensor list.
  static QStringList Scan(int lastAddress) {
    QWidget *dialog = Config();
    Child<QTabWidget>(dialog, "PageConfig")->setCurrentIndex(1);
    auto *progress = Child<QProgressBar>(dialog, "BarreProgression");
    auto *stop = Child<QPushButton>(dialog, "BoutStop");
    const int stopAt = static_cast<int>(std::lround((lastAddress + 1) * 100.0 / 255));
    bool clicked = false;
    auto c = QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
      if (value >= stopAt && !clicked) {
        clicked = true;
        QMetaObject::invokeMethod(stop, "click", Qt::QueuedConnection);
      }
    });
    Child<QPushButton>(dialog, "BoutScrute")->click();  // returns when the scan is over
    QObject::disconnect(c);
    QStringList lines;
    auto *list = Child<QListWidget>(dialog, "ValeursCapteurs");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }

  // System › Configuration; body runs inside the dialog, which it must close.
  static void Configure(const std::function<void()> &body) {
    ASSERT_TRUE(Action("MenuConfig")->isEnabled());
    bool ran = false;
    WhenShown(FenetreConfig, [&] {
      body();
      ran = true;
      if (FenetreConfig->isVisible()) Child<QPushButton>(FenetreConfig, "BoutConfigAnnule")->click();
    });
    Action("MenuConfig")->trigger();
    EXPECT_TRUE(ran);
  }

  // Sensor › Acquisition with the acquisition settings: file path, period
  // in seconds; duration one minute. True when the run has started.
  static bool StartAcquisition(const QString &file, int periodSeconds = 1) {
    WhenShown(ConfigAcquisition, [&] {
      Child<QLineEdit>(ConfigAcquisition, "EditEnregistre")->setText(file);
      Child<QComboBox>(ConfigAcquisition, "ListeUnitePeriode")->setCurrentIndex(UnitSecondes);
      Child<QLineEdit>(ConfigAcquisition, "EditPeriode")->setText(QString::number(periodSeconds));
      Child<QPushButton>(ConfigAcquisition, "BoutOK")->click();
    });
    Action("MenuAcquisition")->trigger();
    return AcquisitionFrame != nullptr && AcquisitionFrame->Running();
  }

  // Runs the acquisition's one-second timer for real until it has ticked
  // `ticks` more times; after tick k (counted from 1 for this call) runs
  // afterTick(k) when given.
  static bool RunTicks(int ticks, const std::function<void(int)> &afterTick = {}) {
    TFrameAcquisition *frame = AcquisitionFrame;
    const int first = frame->TickCount();
    int seen = 0;
    // Connected after the frame's own slot: runs once the tick's line is written.
    auto c = QObject::connect(frame->Timer(), &QTimer::timeout, [&] {
      ++seen;
      if (afterTick) afterTick(seen);
    });
    const bool done = WaitUntil([&] { return seen >= ticks || !frame->Running(); }, ticks * 1000 + 15000);
    QObject::disconnect(c);
    return done && frame->TickCount() == first + ticks;
  }

  // The panel showing live readings at index i of the main window.
  static TAfficheAngleCapteur *Panel(int i) { return FenetrePrincipale->Panels().Item(i); }

  // Waits for the next reading of panel and returns its text.
  static QString NextReading(TAfficheAngleCapteur *panel, int ms = 5000) {
    bool read = false;
    auto c = QObject::connect(panel, &TAfficheAngleCapteur::Lu, [&] { read = true; });
    WaitUntil([&] { return read; }, ms);
    QObject::disconnect(c);
    return read ? panel->PanelAngle->text() : QStringLiteral("(no reading)");
  }

  // Boxes shown with the text of id (its arguments aside).
  int AskedWith(LangueId id) const {
    const QString fixed = Langue(id).section(QLatin1String("%1"), 0, 0);
    int n = 0;
    for (const auto &m : asked) n += m.text.startsWith(fixed);
    return n;
  }

  std::vector<Asked> asked;

 private:
  QTemporaryDir m_dir;
  QString m_previousDir;
};

}  // namespace e2e

#endif
