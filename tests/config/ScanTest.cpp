// The bus scan driven from the configuration dialog, against simulated
// lines: what the user sees (status, progress, list) and what ends in the
// sensor list and the main window's sensor-reading submenu.
#include <QAction>
#include <QMenu>

#include "AccessibleText.h"
#include "CheminPort.h"
#include "ConfigFixture.h"
#include "principale.h"

namespace config_test {
namespace {

nivsim::SensorAConfig SensorA(uint8_t id, const char *serial, bool rs232 = false) {
  nivsim::SensorAConfig a;
  a.identifier = id;
  a.serialNumber = serial;
  a.rs232 = rs232;
  return a;
}

nivsim::SensorBConfig SensorB(uint8_t id, const char *serial) {
  nivsim::SensorBConfig b;
  b.identifier = id;
  b.serialNumber = serial;
  return b;
}

using ScanTest = ConfigFixture;

// A full RS485 sweep of a mixed bus, from the main window's configuration
// command as the user does it: Configuration, Sensors tab, Scan, Apply.
TEST_F(ScanTest, FullRs485SweepOfMixedBusFillsListAndSubmenu) {
  bus->AddSensorA(SensorA(3, "300003"));
  bus->AddSensorB(SensorB(7, "70007"));
  bus->AddSensorA(SensorA(200, "200200"));

  SensorList = nullptr;  // the main window makes its own
  {
    TFenetrePrincipale main;
    RecordingConfig dialog;
    UseLine(LinkRs485);
    FenetreConfig = &dialog;
    std::vector<std::string> listAfterScan;
    bool scanned = false;
    QTimer::singleShot(0, &dialog, [&] {
      Child<QTabWidget>(&dialog, "PageConfig")->setCurrentIndex(1);
      Child<QPushButton>(&dialog, "BoutScrute")->click();  // returns when the scan is over
      scanned = true;
      for (int i = 0; i < Child<QListWidget>(&dialog, "ValeursCapteurs")->count(); ++i)
        listAfterScan.push_back(Child<QListWidget>(&dialog, "ValeursCapteurs")->item(i)->text().toStdString());
      EXPECT_TRUE(Child<QPushButton>(&dialog, "BoutScrute")->isEnabled());
      EXPECT_FALSE(Child<QPushButton>(&dialog, "BoutStop")->isEnabled());
      EXPECT_TRUE(Child<QTabWidget>(&dialog, "PageConfig")->isTabEnabled(0));
      Child<QPushButton>(&dialog, "BoutConfigOk")->click();
    });
    main.MenuConfigClick();
    FenetreConfig = nullptr;
    ASSERT_TRUE(scanned);

    // Progress over the sweep: address 3 shows 1, 128 shows 50, 255 shows 100.
    ASSERT_EQ(dialog.progress.size(), 256u);
    EXPECT_EQ(dialog.progress[2], 1);
    EXPECT_EQ(dialog.progress[127], 50);
    EXPECT_EQ(dialog.progress[254], 100);
    EXPECT_EQ(dialog.progress.back(), 0);

    const std::string a = Text(TxtConnectionA) + "RS485";
    const std::string b = Text(TxtConnectionB) + "RS485";
    EXPECT_EQ(dialog.statuses, (std::vector<std::string>{Text(TxtScanning), a, b, a}));
    EXPECT_EQ(listAfterScan,
              (std::vector<std::string>{"KV72500-AB n°300003", "KV7280 n°70007", "KV72500-AB n°200200"}));

    ASSERT_NE(SensorList, nullptr);
    ASSERT_EQ(SensorList->Count(), 3);
    EXPECT_EQ(SensorList->GetSensor(0)->Data.Family, 1);
    EXPECT_EQ(SensorList->GetSensor(1)->Data.Family, 0);
    EXPECT_EQ(SensorList->GetSensor(2)->Data.Identifier, 200);
    EXPECT_FALSE(SensorList->GetSensor(0)->Connected);

    // Applied with three sensors: the submenu holds them and both menus are enabled.
    QMenu *affiche = main.findChild<QMenu *>("MenuAffiche");
    ASSERT_NE(affiche, nullptr);
    ASSERT_EQ(affiche->actions().size(), 3);
    EXPECT_EQ(affiche->actions()[1]->text().toStdString(), "KV7280 n°70007");
    EXPECT_TRUE(affiche->menuAction()->isEnabled());
    EXPECT_TRUE(main.findChild<QAction *>("MenuAcquisition")->isEnabled());
    // The list is kept after Apply.
    EXPECT_EQ(Child<QListWidget>(&dialog, "ValeursCapteurs")->count(), 3);
  }
  SensorList = &m_sensors;
}

// Stop during the sweep: the click is seen during the progress update of
// the address tested; the sweep ends there and the addresses found so far
// are still read. Then Cancel clicked during the reading closes the dialog
// only after the scan has returned.
TEST_F(ScanTest, StopEndsSweepAtAddressAndCancelWaitsForScan) {
  bus->AddSensorA(SensorA(3, "300003"));
  bus->AddSensorB(SensorB(20, "20020"));
  bus->AddSensorA(SensorA(45, "450045"));
  RecordingConfig dialog;
  UseLine(LinkRs485);  // after the dialog, which loads the settings file
  dialog.show();
  auto *stop = Child<QPushButton>(&dialog, "BoutStop");
  auto *cancel = Child<QPushButton>(&dialog, "BoutConfigAnnule");
  bool stopClicked = false, cancelClicked = false, visibleDuringRead = false;
  dialog.onProgress = [&](int percent) {
    // Address 40 is the first to show 16.
    if (percent == 16 && !stopClicked) {
      stopClicked = true;
      EXPECT_TRUE(stop->isEnabled());
      ClickLater(stop);
    }
  };
  QObject::connect(Child<QListWidget>(&dialog, "ValeursCapteurs")->model(), &QAbstractItemModel::rowsInserted,
                   [&] {
                     if (!cancelClicked) {
                       cancelClicked = true;
                       ClickLater(cancel);
                     } else {
                       visibleDuringRead = dialog.isVisible();
                     }
                   });
  Child<QPushButton>(&dialog, "BoutScrute")->click();

  ASSERT_EQ(dialog.progress.size(), 41u);  // addresses 1..40, then 0
  EXPECT_EQ(dialog.progress[39], 16);
  EXPECT_EQ(dialog.progress.back(), 0);
  ASSERT_EQ(m_sensors.Count(), 2);
  EXPECT_EQ(m_sensors.GetSensor(0)->Data.Identifier, 3);
  EXPECT_EQ(m_sensors.GetSensor(1)->Data.Identifier, 20);
  EXPECT_EQ(dialog.published.size(), 2u);

  // Cancel took effect after the scan: list cleared, result 2, sensors kept.
  EXPECT_TRUE(visibleDuringRead);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), ConfigCancel);
  EXPECT_EQ(Child<QListWidget>(&dialog, "ValeursCapteurs")->count(), 0);
  EXPECT_FALSE(dialog.Scanning());
  EXPECT_TRUE(Child<QPushButton>(&dialog, "BoutEdit")->isEnabled());
}

// Addresses that answer the presence test but cannot be kept: a family A
// sensor whose configuration cannot be decoded (failure 8) is not kept on a
// bus and family B is not tried; a sensor that acknowledges but never
// answers reads as neither family. "No sensor is connected" is not shown.
TEST_F(ScanTest, Rs485UnreadableAddressesAreReportedNotKept) {
  bus->AddSensorA(SensorA(1, "ZZZZZZ"));  // serial number that is no number: 8
  const int silent = bus->AddSensorA(SensorA(2, "200002"));
  bus->SetFault(silent, nivsim::Fault::Silence);
  bus->AddSensorA(SensorA(3, "300003"));
  RecordingConfig dialog;
  UseLine(LinkRs485);  // after the dialog, which loads the settings file
  dialog.show();
  dialog.onProgress = [&](int percent) {
    if (percent == 2) ClickLater(Child<QPushButton>(&dialog, "BoutStop"));  // at address 4
  };
  Child<QPushButton>(&dialog, "BoutScrute")->click();

  EXPECT_EQ(dialog.statuses,
            (std::vector<std::string>{Text(TxtScanning), Text(TxtConfigErrors), Text(TxtConnectionError),
                                      Text(TxtConnectionA) + "RS485"}));
  ASSERT_EQ(m_sensors.Count(), 1);
  EXPECT_EQ(m_sensors.GetSensor(0)->Data.SerialNumber, 300003);
  EXPECT_EQ(Child<QListWidget>(&dialog, "ValeursCapteurs")->count(), 1);
}

// A bus where no address answers: "No sensor is connected", nothing listed
// and no sensor-reading item (the sweep is stopped early to keep the test short).
TEST_F(ScanTest, Rs485NothingAnswersSaysNoSensor) {
  RecordingConfig dialog;
  UseLine(LinkRs485);
  dialog.show();
  dialog.onProgress = [&](int percent) {
    if (percent == 1) ClickLater(Child<QPushButton>(&dialog, "BoutStop"));  // at address 2
  };
  Child<QPushButton>(&dialog, "BoutScrute")->click();
  EXPECT_EQ(dialog.statuses, (std::vector<std::string>{Text(TxtScanning), Text(TxtNoSensor)}));
  EXPECT_EQ(dialog.progress, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(m_sensors.Count(), 0);
  EXPECT_TRUE(dialog.published.empty());
  EXPECT_EQ(dialog.discardedFrames, 1);
}

// RS232 rows: what the one sensor of a point-to-point line gives.
struct Rs232Case {
  const char *name;
  int sensors;            // 0 nothing connected, else one family A sensor; -1 adapter pulled out
  const char *serial;
  std::vector<int> progress;
  LangueId status;
  const char *line;       // nullptr: no line
  const char *device = nullptr;  // the port points here instead of at the bus
};

class Rs232ScanTest : public ConfigFixture, public ::testing::WithParamInterface<Rs232Case> {};

TEST_P(Rs232ScanTest, OneSensorOrNone) {
  const Rs232Case &c = GetParam();
  if (c.sensors > 0) bus->AddSensorA(SensorA(1, c.serial, true));
  if (c.sensors < 0) bus->Unplug();
  if (c.device) ::setenv(("NIVELIX_COM" + std::to_string(comNumber)).c_str(), c.device, 1);
  RecordingConfig dialog;
  UseLine(LinkRs232);  // after the dialog, which loads the settings file
  dialog.show();
  Child<QPushButton>(&dialog, "BoutScrute")->click();

  EXPECT_EQ(dialog.progress, c.progress);
  std::string status = Text(c.status);
  if (c.status == TxtConnectionA) status += "RS232";
  // A port that cannot be used is named with its device.
  if (Langue(c.status).startsWith("%1"))
    status = Langue(c.status).arg(QString::fromStdString(ComDevicePath(comNumber))).toStdString();
  ASSERT_FALSE(dialog.statuses.empty());
  EXPECT_EQ(dialog.statuses.back(), status);
  auto *statusLine = Child<QLabel>(&dialog, "StatusPanel0");
  EXPECT_EQ(statusLine->text().toStdString(), status);
  EXPECT_EQ(AccessibleText(statusLine).toStdString(), status) << "what a screen reader reads";
  auto *list = Child<QListWidget>(&dialog, "ValeursCapteurs");
  if (c.line) {
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text().toStdString(), c.line);
    ASSERT_EQ(m_sensors.Count(), 1);
    EXPECT_EQ(m_sensors.GetSensor(0)->Data.Protocol, 1);
    EXPECT_EQ(dialog.published.size(), 1u);
  } else {
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(m_sensors.Count(), 0);
    EXPECT_TRUE(dialog.published.empty());
  }
  EXPECT_EQ(Child<QProgressBar>(&dialog, "BarreProgression")->value(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Rs232ScanTest,
    ::testing::Values(
        Rs232Case{"NothingConnected", 0, "", {30, 60, 100, 0}, TxtNoSensor, nullptr},
        Rs232Case{"AdapterPulledOut", -1, "", {0}, TxtPortNotFound, nullptr},
        Rs232Case{"NotASerialPort", 0, "", {0}, TxtPortNotSerial, nullptr, "/dev/null"},
        Rs232Case{"Folder", 0, "", {0}, TxtPortNotSerial, nullptr, "/tmp"},
        // The settings file the dialog made in the working folder.
        Rs232Case{"RegularFile", 0, "", {0}, TxtPortNotSerial, nullptr, "ruzazazo.cfg"},
        Rs232Case{"FamilyA", 1, "123456", {30, 60, 0}, TxtConnectionA, "KV72500-AB n°123456"},
        // On a point-to-point line the undecodable sensor is kept: its
        // configuration can be written again.
        Rs232Case{"ConfigurationError", 1, "ZZZZZZ", {30, 60, 0}, TxtConfigErrors, "KV72500-AB n°0"}),
    [](const ::testing::TestParamInfo<Rs232Case> &info) { return std::string(info.param.name); });

// The scan talks to the line of the settings in force, not to a port chosen
// on the environment tab and not yet applied.
TEST_F(ScanTest, ScanWithoutApplyUsesPortInForce) {
  bus->AddSensorA(SensorA(1, "123456", true));
  RecordingConfig dialog;
  UseLine(LinkRs232);  // after the dialog, which loads the settings file
  dialog.show();
  Child<QComboBox>(&dialog, "ComboNumCom")->setCurrentIndex(1);  // COM2
  Child<QRadioButton>(&dialog, "RadioEnvRS485")->setChecked(true);
  EXPECT_EQ(PendingSettings.PortNumber, 2);
  EXPECT_EQ(PendingSettings.LinkType, LinkRs485);
  Child<QPushButton>(&dialog, "BoutScrute")->click();
  EXPECT_EQ(m_sensors.Count(), 1);
  EXPECT_EQ(Settings.PortNumber, comNumber);
}

}  // namespace
}  // namespace config_test
