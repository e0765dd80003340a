// The user's path from a first start to a finished acquisition and back,
// through the program's menus and dialogs, against a simulated mixed RS485
// bus behind COM1: what the user sees and what lands on disk at each step.
#include <QFileInfo>
#include <QRegularExpression>

#include "CheminPort.h"
#include "E2eFixture.h"
#include "UtilCapt.h"

namespace e2e {
namespace {

using UserPath = E2eFixture;

// Reads record n of the settings file in the working folder.
SettingsRecord Record(int n) {
  SettingsRecord r{};
  QFile f(QString::fromLatin1(SettingsFileName));
  if (f.open(QIODevice::ReadOnly) && f.seek(static_cast<qint64>(n) * sizeof r))
    f.read(reinterpret_cast<char *>(&r), sizeof r);
  return r;
}

// The cut-off frequency a family A sensor's Y coefficient (registers 0x42,
// 0x43 in the sensor's float code) stands for: y / 2 + 1 = q^2, q = cot(pi f / 100).
double FilterOfRegisters(const nivsim::SimBus &bus, int sensor) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%04X%04X", bus.Register(sensor, 0x42), bus.Register(sensor, 0x43));
  const double y = Hex8ToFloat(hex);
  return std::atan(1.0 / std::sqrt(y / 2.0 + 1.0)) * 100.0 / M_PI;
}

TEST_F(UserPath, FirstStartToFinishedAcquisitionAndBack) {
  const int pier = bus->AddSensorA(Steady<nivsim::SensorAConfig>(3, "300003", 12.5));
  bus->AddSensorB(Steady<nivsim::SensorBConfig>(5, "50005", -20.0));
  const int deck = bus->AddSensorA(Steady<nivsim::SensorAConfig>(7, "700007", 40.0));

  // First start: the settings file is created with the defaults, and only
  // the way to the configuration is open.
  ASSERT_FALSE(QFileInfo::exists(SettingsFileName));
  Start();
  EXPECT_EQ(QFileInfo(SettingsFileName).size(), 532);
  EXPECT_EQ(Record(0).LinkType, LinkRs232);
  EXPECT_FALSE(Action("MenuAcquisition")->isEnabled());
  EXPECT_FALSE(Child<QMenu>(FenetrePrincipale, "MenuAffiche")->menuAction()->isEnabled());
  EXPECT_TRUE(asked.empty());

  // Configuration: RS485 and "mm/m", Apply.
  Configure([&] {
    EXPECT_EQ(Child<QLabel>(Config(), "LabelPortDevice")->toolTip(),  // the whole text
              Langue(TxtPortDevice).arg(QString::fromStdString(ComDevicePath(comNumber))));
    Child<QRadioButton>(Config(), "RadioEnvRS485")->click();
    auto *units = Child<QComboBox>(Config(), "ComboUnites");
    EXPECT_EQ(units->itemText(3), "mm/m");
    units->setCurrentIndex(3);
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_EQ(Record(0).LinkType, LinkRs485);
  EXPECT_EQ(Record(0).AngleUnit, 3);
  EXPECT_EQ(Record(1).LinkType, LinkRs232) << "the first record kept as the previous one";
  EXPECT_FALSE(Action("MenuAcquisition")->isEnabled()) << "no sensor yet";

  // Scan the bus, edit the sensor at 3 (filter 2.5 Hz, identifier 9, a
  // comment), scan again, Apply.
  QStringList firstScan, secondScan;
  Configure([&] {
    firstScan = Scan(7);

    auto *list = Child<QListWidget>(Config(), "ValeursCapteurs");
    list->setCurrentRow(0);
    WhenShown(FenetreCapteur, [&] {
      EXPECT_EQ(Child<QLineEdit>(FenetreCapteur, "EditId")->text(), "3");
      Child<QLineEdit>(FenetreCapteur, "EditFiltre")->setText("2.5");
      Child<QLineEdit>(FenetreCapteur, "EditId")->setText("9");
      Child<QPlainTextEdit>(FenetreCapteur, "EditComment")->setPlainText("North pier");
      Child<QPushButton>(FenetreCapteur, "BoutOK")->click();
    });
    Child<QPushButton>(Config(), "BoutEdit")->click();
    EXPECT_FALSE(FenetreCapteur->isVisible());
    // What the sensor holds now.
    EXPECT_EQ(bus->Register(pier, 0x46), 0x0009) << "RS485 mode byte 00, identifier 9";
    EXPECT_NEAR(FilterOfRegisters(*bus, pier), 2.5, 0.005);

    secondScan = Scan(9);
    // The comment again: the scan made new sensor objects.
    list->setCurrentRow(2);
    WhenShown(FenetreCapteur, [&] {
      EXPECT_EQ(Child<QPlainTextEdit>(FenetreCapteur, "EditComment")->toPlainText(), "");
      Child<QPlainTextEdit>(FenetreCapteur, "EditComment")->setPlainText("North pier");
      Child<QPushButton>(FenetreCapteur, "BoutOK")->click();
    });
    Child<QPushButton>(Config(), "BoutEdit")->click();
    Child<QPushButton>(Config(), "BoutConfigOk")->click();
  });
  EXPECT_EQ(firstScan, (QStringList{"KV72500-AB n°300003", "KV7280 n°50005", "KV72500-AB n°700007"}));
  EXPECT_EQ(secondScan, (QStringList{"KV7280 n°50005", "KV72500-AB n°700007", "KV72500-AB n°300003"}))
      << "the edited sensor is found at its new address, after 5 and 7";
  ASSERT_EQ(SensorList->Count(), 3);
  EXPECT_EQ(SensorList->GetSensor(2)->Data.Identifier, 9);
  EXPECT_NEAR(SensorList->GetSensor(2)->Data.Filter, 2.5, 0.005);
  EXPECT_TRUE(asked.empty()) << asked.front().text.toStdString();

  // Applied with sensors: both menus open; the settings file holds the
  // same record twice.
  EXPECT_TRUE(Action("MenuAcquisition")->isEnabled());
  QMenu *reading = Child<QMenu>(FenetrePrincipale, "MenuAffiche");
  EXPECT_TRUE(reading->menuAction()->isEnabled());
  ASSERT_EQ(reading->actions().size(), 3);
  EXPECT_EQ(QFileInfo(SettingsFileName).size(), 2 * 532);
  EXPECT_EQ(Record(0).LinkType, LinkRs485);
  EXPECT_EQ(Record(1).AngleUnit, 3);

  // Two live panels: the sensors at 7 and at 9, in mm/m. Zero the first,
  // stop the second.
  reading->actions()[1]->trigger();
  reading->actions()[2]->trigger();
  ASSERT_EQ(FenetrePrincipale->Panels().Count(), 2);
  EXPECT_FALSE(Action("MenuAcquisition")->isEnabled());
  const QString deckText = NextReading(Panel(0));
  EXPECT_TRUE(deckText.endsWith(" mm/m")) << deckText.toStdString();
  EXPECT_NEAR(Number(deckText), 40.02, 0.02) << "tan(40 mRad) in mm/m";
  EXPECT_NEAR(Number(NextReading(Panel(1))), 12.50, 0.02);
  EXPECT_EQ(Panel(1)->EditComment->toPlainText(), "North pier");
  Panel(0)->BoiteReset->click();
  EXPECT_NEAR(Number(NextReading(Panel(0))), 0.0, 0.005) << Panel(0)->PanelAngle->text().toStdString();
  EXPECT_NEAR(Number(NextReading(Panel(1))), 12.50, 0.02) << "the other panel keeps its zero";
  Panel(1)->BoutStop->click();
  ASSERT_TRUE(WaitUntil([] { return FenetrePrincipale->Panels().Count() == 1; }, 5000));
  EXPECT_EQ(Panel(0)->Sensor()->Data.Identifier, 7);
  EXPECT_NEAR(Number(NextReading(Panel(0))), 0.0, 0.005);
  EXPECT_FALSE(Action("MenuAcquisition")->isEnabled()) << "while a panel reads";
  Panel(0)->BoutStop->click();
  ASSERT_TRUE(WaitUntil([] { return FenetrePrincipale->Panels().Count() == 0; }, 5000));
  EXPECT_TRUE(Action("MenuAcquisition")->isEnabled()) << "the last panel stopped";

  // An acquisition of five one-second samples; the sensor at 7 is
  // unplugged from the bus for the third and fourth.
  const QString file = Path("pier.txt");
  ASSERT_TRUE(StartAcquisition(file));
  EXPECT_FALSE(Child<QMenu>(FenetrePrincipale, "MenuSys")->menuAction()->isEnabled());
  ASSERT_TRUE(RunTicks(5, [&](int tick) {
    if (tick == 2) bus->SetFault(deck, nivsim::Fault::NoAck);
    if (tick == 4) bus->ClearFault(deck);
    if (tick == 5) Child<QPushButton>(AcquisitionFrame, "BoutStop")->click();
  }));
  EXPECT_FALSE(AcquisitionFrame->Running());
  EXPECT_EQ(AcquisitionFrame->Title(), Langue(TxtAcqFinished));
  EXPECT_TRUE(Child<QMenu>(FenetrePrincipale, "MenuSys")->menuAction()->isEnabled());
  EXPECT_TRUE(asked.empty()) << "a sensor that does not answer is an empty field, not a message";

  const QStringList lines = FileLines(file);
  ASSERT_EQ(lines.size(), 11) << lines.join("\n").toStdString();
  EXPECT_EQ(lines[0], "Acquisition file generated with Nivelix V3.6.2.");
  EXPECT_EQ(lines[1], "Unit : mm/m");
  EXPECT_EQ(lines[2], "KV7280 - 50005 : \tNo comment.");
  EXPECT_EQ(lines[3], "KV72500-AB - 700007 : \tNo comment.");
  EXPECT_EQ(lines[4], "KV72500-AB - 300003 : \tNorth pier.");
  EXPECT_EQ(lines[5], "Inclinometer\tKV7280 - 50005\tKV72500-AB - 700007\tKV72500-AB - 300003");
  for (int k = 0; k < 5; ++k) {
    const QStringList fields = lines[6 + k].split('\t');
    ASSERT_EQ(fields.size(), 4) << lines[6 + k].toStdString();
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}/\d{1,2}/\d{1,2} \d{1,2}:\d{1,2}:\d{1,2}$)")
                    .match(fields[0]).hasMatch())
        << fields[0].toStdString() << ": dates year/month/day by default";
    EXPECT_NEAR(Number(fields[1]), -20.0, 0.02) << "sample " << k;
    if (k == 2 || k == 3)
      EXPECT_EQ(fields[2], "") << "unplugged at sample " << k;
    else
      EXPECT_NEAR(Number(fields[2]), 40.02, 0.02) << "sample " << k << ": zero of a live panel is not the file's";
    EXPECT_NEAR(Number(fields[3]), 12.50, 0.02) << "sample " << k;
  }

  // Quit and start again: the settings come back, and nothing talks to a
  // sensor before the user scans.
  Quit();
  bus->ClearTrace();
  Start();
  EXPECT_EQ(Settings.LinkType, LinkRs485);
  EXPECT_EQ(Settings.AngleUnit, 3);
  EXPECT_TRUE(Child<QRadioButton>(Config(), "RadioEnvRS485")->isChecked());
  EXPECT_EQ(Child<QComboBox>(Config(), "ComboUnites")->currentText(), "mm/m");
  EXPECT_FALSE(Action("MenuAcquisition")->isEnabled());
  EXPECT_EQ(SensorList->Count(), 0);
  EXPECT_TRUE(bus->HostBytes().empty());
  EXPECT_EQ(FileLines(file).size(), 11) << "the file is left as the run ended it";
  EXPECT_TRUE(asked.empty());
}

}  // namespace
}  // namespace e2e
