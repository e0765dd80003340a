// AcquisitionFixture: an acquisition test in a fresh temporary directory,
// with its own SensorList, the settings it needs and every message box
// answered (and recorded) instead of shown.
#ifndef NIVELIX_TESTS_ACQUISITIONFIXTURE_H
#define NIVELIX_TESTS_ACQUISITIONFIXTURE_H

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <ostream>
#include <string>
#include <vector>

#include "DefCom72500.h"
#include "DefCom72800.h"
#include "DialogConfigAcqu.h"
#include "ListeCapteurs.h"
#include "Messages.h"
#include "QtWait.h"
#include "SimFixture.h"
#include "globales.h"
#include "langue.h"
#include "VerrouPort.h"


class AcquisitionFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    SensorList = new TlistCapteur;
    Settings = SettingsRecord{};
    Settings.AngleUnit = 0;
    Settings.DateFormat = DateDayMonthYear;
    SetShortStringText(Settings.AcquisitionFile, Path("acq.txt"));
    SetMessageAnswerer([this](MessageKind kind, const QString &text, QMessageBox::StandardButtons) {
      messages.push_back({kind, text});
      return answer;
    });
  }

  void TearDown() override {
    SetMessageAnswerer({});
    Com72500_ClosePort();
    Com72800_ClosePort();
    // Before the pseudo-terminal goes: its number is free for the next test
    // program, which must not find it locked by this one.
    VerrouProgramme().Liberer();
    delete SensorList;
    SensorList = nullptr;
    QDir::setCurrent(previousDir);
    SimFixture::TearDown();
  }

  QString Path(const QString &name) const { return dir.filePath(name); }
  QString Folder() const { return dir.path(); }

  static QByteArray Contents(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  // A family A sensor in SensorList on the simulated bus (RS485, id).
  TCapteur *AddSensorA(int32_t id, double fullScale, const std::string &reference,
                       int32_t serial, double angle, const std::string &comment = {}) {
    nivsim::SensorAConfig config;
    config.identifier = static_cast<uint8_t>(id);
    config.angle = nivsim::AngleSource::constant(angle);
    bus->AddSensorA(config);
    SensorData data;
    data.Family = 1;
    data.Reference = reference;
    data.SerialNumber = serial;
    data.Identifier = id;
    data.Protocol = 0;
    data.FullScale = fullScale;
    TCapteur *sensor = SensorList->AddSensor(data, static_cast<uint8_t>(comNumber));
    sensor->Comment = comment;
    return sensor;
  }

  // Sets the dialog's boxes as a user types them.
  static void Type(TConfigAcquisition &dialog, const char *edit, const QString &text) {
    auto *e = dialog.findChild<QLineEdit *>(edit);
    ASSERT_NE(e, nullptr) << edit;
    e->setText(text);
  }

  int MessagesWith(LangueId id) const {
    int n = 0;
    for (const auto &m : messages) n += m.second == Langue(id);
    return n;
  }

  QTemporaryDir dir;
  QString previousDir;
  std::vector<std::pair<MessageKind, QString>> messages;
  QMessageBox::StandardButton answer = QMessageBox::Ok;
};

#endif
