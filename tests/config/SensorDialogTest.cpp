// The sensor settings dialog on sensors read from a simulated RS485 bus:
// the input checks, the write and what the simulated sensor then holds.
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QToolButton>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "CheminPort.h"
#include "ConfigFixture.h"
#include "UtilCapt.h"

namespace config_test {
namespace {

constexpr uint8_t FamilyBKind = 0;
constexpr uint8_t FamilyAKind = 1;

class SensorDialogTest : public ConfigFixture {
 protected:
  void SetUp() override {
    ConfigFixture::SetUp();
    nivsim::SensorAConfig a;
    a.identifier = 3;
    m_a = bus->AddSensorA(a);
    nivsim::SensorBConfig b;
    b.identifier = 7;
    m_b = bus->AddSensorB(b);
    Settings.AngleUnit = UnitDeg;
  }

  // Reads a sensor as the scan does and keeps a copy in the list.
  TCapteur *Read(uint8_t family, int id) {
    std::unique_ptr<TCapteur> s;
    if (family == FamilyAKind)
      s = std::make_unique<TCapteur72500>();
    else
      s = std::make_unique<TCapteur>();
    s->SetPort(static_cast<uint8_t>(comNumber));
    s->Data.Protocol = 0;
    s->Data.Identifier = id;
    EXPECT_EQ(s->ReadAll(), 0);
    return m_sensors.AddSensor(s->Data, s->Port);
  }

  // Shows the dialog for sensor and runs act inside it; a dialog still open
  // afterwards is cancelled. Returns the dialog's result and whether act
  // left it open.
  int Run(TCapteur *sensor, const std::function<void()> &act, bool *stayedOpen = nullptr) {
    QTimer::singleShot(0, &m_dialog, [&] {
      act();
      if (stayedOpen) *stayedOpen = m_dialog.isVisible();
      if (m_dialog.isVisible()) m_dialog.reject();
    });
    return m_dialog.Affiche(sensor);
  }

  QLineEdit *Edit(const char *name) { return Child<QLineEdit>(&m_dialog, name); }
  void ClickOk() { Child<QPushButton>(&m_dialog, "BoutOK")->click(); }

  TFenetreCapteur m_dialog;
  int m_a = 0, m_b = 0;
};

// Filter entries the dialog refuses, per family; the field shows the stored
// filter with two decimals again and the dialog stays open.
TEST_F(SensorDialogTest, FilterChecksPerFamily) {
  TCapteur *a = Read(FamilyAKind, 3);
  TCapteur *b = Read(FamilyBKind, 7);
  struct Row {
    TCapteur *sensor;
    const char *text;
    LangueId message;
  } rows[] = {{a, "0.01", TxtFilterInvalid}, {a, "10.01", TxtFilterInvalid}, {a, "abc", TxtFilterNotNumber},
              {b, "0.1", TxtFilterInvalid},  {b, "5.01", TxtFilterInvalid},  {b, "", TxtFilterNotNumber}};
  for (const Row &row : rows) {
    shown.clear();
    bus->ClearTrace();
    bool open = false;
    QString after;
    Run(row.sensor, [&] {
      EXPECT_EQ(Edit("EditFiltre")->text(), "3");
      Edit("EditFiltre")->setText(row.text);
      ClickOk();
      after = Edit("EditFiltre")->text();
    }, &open);
    EXPECT_TRUE(open) << row.text;
    ASSERT_EQ(Texts(), (std::vector<QString>{Langue(row.message)})) << row.text;
    EXPECT_EQ(after, "3.00") << row.text;
    EXPECT_TRUE(bus->HostBytes().empty()) << row.text;
  }
  // The accepted bounds.
  EXPECT_TRUE(FilterInRange(FamilyAKind, 0.02));
  EXPECT_TRUE(FilterInRange(FamilyAKind, 10));
  EXPECT_TRUE(FilterInRange(FamilyBKind, 0.15));
  EXPECT_TRUE(FilterInRange(FamilyBKind, 5));
  EXPECT_EQ(FilterText(2.25), "2.25");
  EXPECT_EQ(FilterText(0.125), "0.12");
  EXPECT_EQ(FilterResetText(0.5), "0.50");
  EXPECT_EQ(FilterResetText(2.25), "2.20");
}

// Identifier entries: a message at once and the stored identifier back; the
// arrows stay within 1..255.
TEST_F(SensorDialogTest, IdentifierChecksAndArrows) {
  TCapteur *a = Read(FamilyAKind, 3);
  struct Row {
    const char *text;
    const char *shows;
    std::vector<QString> messages;
  } rows[] = {{"0", "3", {Langue(TxtInvalidNumber)}},
              {"256", "3", {Langue(TxtInvalidNumber)}},
              {"", "3", {Langue(TxtNotANumber)}},
              {"x1", "3", {Langue(TxtNotANumber)}},
              {"255", "255", {}}};
  Run(a, [&] {
    for (const Row &row : rows) {
      shown.clear();
      Edit("EditId")->setText(row.text);
      EXPECT_EQ(Edit("EditId")->text(), row.shows) << row.text;
      EXPECT_EQ(Texts(), row.messages) << row.text;
      if (!shown.empty()) {
        EXPECT_EQ(shown[0].buttons, QMessageBox::Yes);
      }
    }
    auto *up = Child<QToolButton>(&m_dialog, "UpDownUp");
    auto *down = Child<QToolButton>(&m_dialog, "UpDownDown");
    up->click();
    EXPECT_EQ(Edit("EditId")->text(), "255");
    Edit("EditId")->setText("1");
    down->click();
    EXPECT_EQ(Edit("EditId")->text(), "1");
    up->click();
    EXPECT_EQ(Edit("EditId")->text(), "2");
  });
}

// OK without a change of the writable fields writes nothing but keeps the
// comment, which the dialog shows when opened again.
TEST_F(SensorDialogTest, OkWithoutChangeKeepsCommentOnly) {
  TCapteur *a = Read(FamilyAKind, 3);
  bus->ClearTrace();
  const int result = Run(a, [&] {
    Child<QPlainTextEdit>(&m_dialog, "EditComment")->setPlainText("north pier");
    EXPECT_FALSE(m_dialog.ConfigurationChanged());
    ClickOk();
  });
  EXPECT_EQ(result, CapteurOk);
  EXPECT_TRUE(bus->HostBytes().empty());
  EXPECT_EQ(a->Comment, "north pier");
  EXPECT_TRUE(shown.empty());
  QString comment;
  Run(a, [&] { comment = Child<QPlainTextEdit>(&m_dialog, "EditComment")->toPlainText(); });
  EXPECT_EQ(comment, "north pier");
}

// Family A: the filter and the analog output written; the sensor holds them
// at once (no power-cycle note) and Actualize shows what it reports.
TEST_F(SensorDialogTest, FamilyAWriteThenActualize) {
  TCapteur *a = Read(FamilyAKind, 3);
  QString fullScale;
  const int result = Run(a, [&] {
    fullScale = Child<QLabel>(&m_dialog, "EtMesure")->text();
    EXPECT_FALSE(Child<QGroupBox>(&m_dialog, "RadioAnaOut")->isHidden());
    Edit("EditFiltre")->setText("5");
    Child<QRadioButton>(&m_dialog, "RadioAnaOutIout")->setChecked(true);
    ClickOk();
  });
  EXPECT_EQ(result, CapteurOk);
  EXPECT_TRUE(fullScale.startsWith("30")) << fullScale.toStdString();
  EXPECT_TRUE(fullScale.endsWith(" Deg")) << fullScale.toStdString();
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(bus->Register(m_a, 0x47), 0x0000);  // Iout

  QString filter;
  bool iout = false;
  Run(a, [&] {
    Child<QPushButton>(&m_dialog, "BoutActualise")->click();
    filter = Edit("EditFiltre")->text();
    iout = Child<QRadioButton>(&m_dialog, "RadioAnaOutIout")->isChecked();
  });
  EXPECT_EQ(filter, "5");
  EXPECT_TRUE(iout);
  EXPECT_TRUE(shown.empty());
}

// Family B: a new identifier is written; the note asks for a power cycle,
// after which the sensor answers at its new address.
TEST_F(SensorDialogTest, FamilyBWriteNeedsPowerCycle) {
  TCapteur *b = Read(FamilyBKind, 7);
  const int result = Run(b, [&] {
    EXPECT_TRUE(Child<QGroupBox>(&m_dialog, "RadioAnaOut")->isHidden());
    EXPECT_FALSE(Child<QGroupBox>(&m_dialog, "RadioTypeCom")->isEnabled());  // RS485
    Edit("EditId")->setText("9");
    ClickOk();
  });
  EXPECT_EQ(result, CapteurOk);
  ASSERT_EQ(Texts(), (std::vector<QString>{Langue(TxtPowerCycleNote)}));
  EXPECT_EQ(shown[0].kind, MessageKind::Information);

  bus->PowerCycle(m_b);
  TCapteur moved;
  moved.SetPort(static_cast<uint8_t>(comNumber));
  moved.Data.Protocol = 0;
  moved.Data.Identifier = 9;
  EXPECT_EQ(moved.ReadAll(), 0);
  EXPECT_EQ(moved.Data.Identifier, 9);
}

// A write that fails is reported and the dialog closes without storing the
// comment.
TEST_F(SensorDialogTest, FailedWriteIsReportedAndCommentNotStored) {
  TCapteur *a = Read(FamilyAKind, 3);
  bus->SetFault(m_a, nivsim::Fault::NoAck);
  const int result = Run(a, [&] {
    Edit("EditFiltre")->setText("4");
    Child<QPlainTextEdit>(&m_dialog, "EditComment")->setPlainText("lost");
    ClickOk();
  });
  EXPECT_EQ(result, CapteurOk);
  ASSERT_EQ(Texts(), (std::vector<QString>{Langue(TxtConnectionError)}));
  EXPECT_EQ(shown[0].kind, MessageKind::Warning);
  EXPECT_EQ(a->Comment, "");
}

// The port held by another program: Actualize and a write say so after the
// usual failure, as the scan names it.
TEST_F(SensorDialogTest, PortTroubleIsNamedAfterTheConnectionError) {
  TCapteur *a = Read(FamilyAKind, 3);
  const int holder = ::open(bus->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  Run(a, [&] {
    Child<QPushButton>(&m_dialog, "BoutActualise")->click();
    Edit("EditFiltre")->setText("4");
    ClickOk();
  });
  ::close(holder);
  const QString expected = Langue(TxtConnectionError) + "\n" +
                           Langue(TxtPortInUse).arg(QString::fromStdString(ComDevicePath(comNumber)));
  EXPECT_EQ(Texts(), (std::vector<QString>{expected, expected}));
}

// Choosing RS485 on an RS232 sensor asks first; Cancel puts RS232 back and
// leaves "Connection Type" enabled, Yes disables it.
TEST_F(SensorDialogTest, ProtocolChangeAsksConfirmation) {
  nivsim::SensorAConfig a232;
  a232.rs232 = true;
  SimFixture::TearDown();  // a point-to-point line instead of the bus
  bus = std::make_unique<nivsim::SimBus>();
  bus->PointCom(comNumber);
  bus->AddSensorA(a232);
  auto s = std::make_unique<TCapteur72500>();
  s->SetPort(static_cast<uint8_t>(comNumber));
  s->Data.Protocol = 1;
  ASSERT_EQ(s->ReadAll(), 0);
  TCapteur *sensor = m_sensors.AddSensor(s->Data, s->Port);

  const int result = Run(sensor, [&] {
    auto *rs485 = Child<QRadioButton>(&m_dialog, "RadioProtocoleRS485");
    auto *rs232 = Child<QRadioButton>(&m_dialog, "RadioProtocoleRS232");
    auto *typeCom = Child<QGroupBox>(&m_dialog, "RadioTypeCom");
    EXPECT_TRUE(typeCom->isEnabled());
    answers = {QMessageBox::Cancel};
    rs485->click();
    EXPECT_TRUE(rs232->isChecked());
    EXPECT_TRUE(typeCom->isEnabled());
    EXPECT_EQ(m_dialog.EditedData().Protocol, 1);
    ASSERT_EQ(Texts(), (std::vector<QString>{Langue(TxtAskProtocol)}));
    EXPECT_EQ(shown[0].buttons, QMessageBox::Yes | QMessageBox::Cancel);
    answers = {QMessageBox::Yes};
    rs485->click();
    EXPECT_TRUE(rs485->isChecked());
    EXPECT_FALSE(typeCom->isEnabled());
    EXPECT_EQ(m_dialog.EditedData().Protocol, 0);
    EXPECT_TRUE(m_dialog.ConfigurationChanged());
  });
  EXPECT_EQ(result, CapteurCancel);
  EXPECT_EQ(sensor->Data.Protocol, 1);
  EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
}  // namespace config_test
