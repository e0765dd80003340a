// LiveTest: what the live panel tests share: a stand-in for the main window
// that handles WM_PANELSTOP as the program's main window does, a fresh
// working directory, and waits that keep the event loop running.
#ifndef NIVELIX_TESTS_LIVETEST_H
#define NIVELIX_TESTS_LIVETEST_H

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include "AfficheAngle.h"
#include "Capteur.h"
#include "DefCom72500.h"
#include "DefCom72800.h"
#include "ListeAfficheAngle.h"
#include "QtWait.h"
#include "SimFixture.h"
#include "ThreadSec.h"
#include "WmPanelStop.h"
#include "globales.h"
#include "VerrouPort.h"


namespace live_test {

using ::WaitUntil;

inline void RunFor(int ms) {
  WaitUntil([] { return false; }, ms);
}

// The main window's part in closing a panel, without its menus: a worker
// per WM_PANELSTOP, whose removal step takes the panel out of the list.
class Host : public QWidget {
 public:
  Host() : PanelCadres(new QWidget(this)) { PanelCadres->resize(482, 400); }
  ~Host() override { Panels.RemoveAll(); }

  QWidget *PanelCadres;
  TListAfficheAngle Panels;

  std::vector<int> Numbers() const {
    std::vector<int> numbers;
    for (int i = 0; i < Panels.Count(); ++i) numbers.push_back(Panels.Item(i)->Number());
    return numbers;
  }

 protected:
  bool event(QEvent *e) override {
    if (e->type() != WM_PANELSTOP) return QWidget::event(e);
    new TThreadSec(static_cast<TPanelStopEvent *>(e)->PanelNumber(), this,
                   [this](int n) { Panels.RemoveByNumber(n); });
    return true;
  }
};

// A fresh working directory, the C number format and the settings'
// defaults for the panels; a simulated bus behind COM5.
class LiveFixture : public SimFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    std::setlocale(LC_NUMERIC, "C");
    Settings = SettingsRecord{};
    Settings.AngleUnit = 0;
    SimFixture::SetUp();
    SimFixture::PreferRealTime();
    host->show();
  }
  void TearDown() override {
    host.reset();
    Com72500_ClosePort();
    Com72800_ClosePort();
    // Before the pseudo-terminal goes: its number is free for the next test
    // program, which must not find it locked by this one.
    VerrouProgramme().Liberer();
    SimFixture::TearDown();
    QDir::setCurrent(previousDir);
  }

  // A sensor object on the simulated port (family A for family 1, else B).
  TCapteur *Sensor(uint8_t family, int32_t identifier, double fullScale) {
    std::unique_ptr<TCapteur> sensor;
    if (family == 1)
      sensor = std::make_unique<TCapteur72500>();
    else
      sensor = std::make_unique<TCapteur>();
    sensor->SetPort(static_cast<uint8_t>(comNumber));
    sensor->Data.Protocol = 0;  // RS485
    sensor->Data.Identifier = identifier;
    sensor->Data.FullScale = fullScale;
    sensor->Data.Reference = family == 1 ? "KV72500-AB" : "KV7280";
    sensor->Data.SerialNumber = 1000 + identifier;
    sensor->Connected = true;
    sensors.push_back(std::move(sensor));
    return sensors.back().get();
  }

  QTemporaryDir dir;
  QString previousDir;
  std::vector<std::unique_ptr<TCapteur>> sensors;  // outlive the panels
  std::unique_ptr<Host> host = std::make_unique<Host>();
};

}  // namespace live_test

#endif
