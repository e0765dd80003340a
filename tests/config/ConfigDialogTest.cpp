// The configuration dialog's environment tab, Apply, Cancel and Edit, driven
// as a user does.
#include <cstdint>

#include <QFile>
#include <QFontDialog>

#include "CheminPort.h"
#include "ConfigFixture.h"

namespace config_test {
namespace {

using ConfigDialogTest = ConfigFixture;

TEST_F(ConfigDialogTest, FirstRunShowsDefaultsAndPortDevice) {
  RecordingConfig dialog;
  EXPECT_EQ(QFile("ruzazazo.cfg").size(), 532);
  EXPECT_EQ(dialog.windowTitle(), "Configuration");
  EXPECT_EQ(Child<QTabWidget>(&dialog, "PageConfig")->currentIndex(), 0);
  auto *port = Child<QComboBox>(&dialog, "ComboNumCom");
  EXPECT_EQ(port->count(), 8);
  EXPECT_EQ(port->currentText(), "COM1");
  EXPECT_TRUE(Child<QRadioButton>(&dialog, "RadioEnvRS232")->isChecked());
  EXPECT_EQ(Child<QComboBox>(&dialog, "ComboUnites")->currentText(), "Deg");
  EXPECT_EQ(Child<QComboBox>(&dialog, "ComboFormatDate")->currentText(), "YYMMDD");
  EXPECT_FALSE(Child<QPushButton>(&dialog, "BoutStop")->isEnabled());

  // Linux names no port "COM1": the dialog shows the device behind it.
  qunsetenv("NIVELIX_COM1");
  dialog.show();
  auto *device = Child<QLabel>(&dialog, "LabelPortDevice");
  EXPECT_TRUE(device->text().contains("/dev/ttyS0")) << device->text().toStdString();
  EXPECT_EQ(device->text().contains("not found"), !QFile::exists("/dev/ttyS0"));
  port->setCurrentIndex(comNumber - 1);
  // The simulator's COM path is long enough to be shortened on the label.
  EXPECT_EQ(device->toolTip(), Langue(TxtPortDevice).arg(QString::fromStdString(ComDevicePath(comNumber))));
}

// Every environment control writes its field of PendingSettings only.
TEST_F(ConfigDialogTest, EnvironmentControlsWritePendingSettingsAndCancelKeepsThem) {
  RecordingConfig dialog;
  const SettingsRecord before = Settings;
  dialog.show();
  Child<QComboBox>(&dialog, "ComboNumCom")->setCurrentIndex(3);
  Child<QRadioButton>(&dialog, "RadioEnvRS485")->setChecked(true);
  Child<QComboBox>(&dialog, "ComboUnites")->setCurrentIndex(0);
  Child<QComboBox>(&dialog, "ComboFormatDate")->setCurrentIndex(1);
  EXPECT_EQ(PendingSettings.PortNumber, 4);
  EXPECT_EQ(PendingSettings.LinkType, LinkRs485);
  EXPECT_EQ(PendingSettings.AngleUnit, 0);
  EXPECT_EQ(PendingSettings.DateFormat, DateMonthDayYear);
  EXPECT_EQ(memcmp(&Settings, &before, sizeof Settings), 0);

  // Cancel: nothing in force changes, the choices stay pending and shown.
  Child<QPushButton>(&dialog, "BoutConfigAnnule")->click();
  EXPECT_EQ(dialog.result(), ConfigCancel);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(Settings.AngleUnit, 1);
  dialog.show();
  EXPECT_EQ(Child<QComboBox>(&dialog, "ComboUnites")->currentText(), "mRad");
  // Escape is Cancel too: the dialog always ends with Apply or Cancel.
  dialog.reject();
  EXPECT_EQ(dialog.result(), ConfigCancel);

  // A later Apply takes them over.
  dialog.show();
  Child<QPushButton>(&dialog, "BoutConfigOk")->click();
  EXPECT_EQ(dialog.result(), ConfigApply);
  EXPECT_EQ(Settings.AngleUnit, 0);
  EXPECT_EQ(Settings.PortNumber, 4);
  EXPECT_EQ(Settings.LinkType, LinkRs485);
  EXPECT_EQ(Settings.DateFormat, DateMonthDayYear);
}

// The font chooser: closed without confirming, the pending font stays;
// confirmed, its face and pixel height become pending.
TEST_F(ConfigDialogTest, FontDialogChangesPendingFontOnlyWhenConfirmed) {
  RecordingConfig dialog;
  dialog.show();
  auto *button = Child<QPushButton>(&dialog, "BoutConfigPolice");
  QTimer::singleShot(0, dialog.FontDialog(), [&] {
    QFont other("DejaVu Sans");
    other.setPixelSize(20);
    dialog.FontDialog()->setCurrentFont(other);
    dialog.FontDialog()->reject();
  });
  button->click();
  EXPECT_EQ(ShortStringText(PendingSettings.DisplayFont), "Courier New");
  EXPECT_EQ(PendingSettings.DisplayFontHeight, 54);

  QFont chosen;
  QTimer::singleShot(0, dialog.FontDialog(), [&] {
    QFont other("DejaVu Sans");
    other.setPointSize(20);
    dialog.FontDialog()->setCurrentFont(other);
    chosen = dialog.FontDialog()->currentFont();
    dialog.FontDialog()->accept();
  });
  button->click();
  EXPECT_EQ(ShortStringText(PendingSettings.DisplayFont), chosen.family());
  EXPECT_EQ(PendingSettings.DisplayFontHeight, QFontInfo(chosen).pixelSize());
  EXPECT_GT(PendingSettings.DisplayFontHeight, 20);  // 20 points are more pixels
  EXPECT_EQ(ShortStringText(Settings.DisplayFont), "Courier New");

  // A stored height the chooser cannot hold as it is comes back unchanged
  // from a cancelled chooser, so Apply keeps the size the panel shows.
  struct HeightRow {
    int32_t stored;
    int chooserPixels;  // the size the chooser opens on; -1: the platform's, in points
  };
  const HeightRow rows[] = {{-40, 40}, {0, -1}, {54, 54}, {INT32_MIN, -1}};
  for (const HeightRow &row : rows) {
    Settings.DisplayFontHeight = row.stored;
    ASSERT_TRUE(SaveSettings());
    RecordingConfig stored;
    EXPECT_EQ(stored.PendingFont().pixelSize(), row.chooserPixels) << row.stored;
    QTimer::singleShot(0, stored.FontDialog(), [&] { stored.FontDialog()->reject(); });
    Child<QPushButton>(&stored, "BoutConfigPolice")->click();
    Child<QPushButton>(&stored, "BoutConfigOk")->click();
    EXPECT_EQ(Settings.DisplayFontHeight, row.stored) << "a cancelled chooser changes nothing";
  }
}

// Edit opens the sensor dialog for the selected line; after Cancel the list
// is empty, Edit asks for a selection, and the sensors stay in the list.
TEST_F(ConfigDialogTest, EditNeedsSelectedLineAndCancelEmptiesList) {
  nivsim::SensorAConfig a;
  a.rs232 = true;
  bus->AddSensorA(a);
  RecordingConfig dialog;
  UseLine(LinkRs232);
  TFenetreCapteur sensorDialog(&dialog);
  dialog.SetSensorDialog(&sensorDialog);
  dialog.show();
  auto *edit = Child<QPushButton>(&dialog, "BoutEdit");
  edit->click();
  ASSERT_EQ(Texts(), (std::vector<QString>{Langue(TxtSelectSensor)}));
  EXPECT_EQ(shown[0].kind, MessageKind::Information);

  Child<QPushButton>(&dialog, "BoutScrute")->click();
  ASSERT_EQ(m_sensors.Count(), 1);
  Child<QListWidget>(&dialog, "ValeursCapteurs")->setCurrentRow(0);
  QString reference;
  QTimer::singleShot(0, &sensorDialog, [&] {
    reference = Child<QLabel>(&sensorDialog, "Reference")->text();
    sensorDialog.reject();
  });
  edit->click();
  EXPECT_EQ(reference, "KV72500-AB");
  EXPECT_EQ(sensorDialog.result(), CapteurCancel);

  Child<QPushButton>(&dialog, "BoutConfigAnnule")->click();
  dialog.show();
  EXPECT_EQ(Child<QListWidget>(&dialog, "ValeursCapteurs")->count(), 0);
  edit->click();
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown.back().text, Langue(TxtSelectSensor));
  EXPECT_EQ(m_sensors.Count(), 1);
}

}  // namespace
}  // namespace config_test
