// Angle panels against simulated sensors on an RS485 bus: the text in each
// unit, the zero reference, failures, the reading rhythm and the numbering.
#include <chrono>
#include <climits>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

#include "AccessibleText.h"
#include "FicheVuMetre.h"
#include "LiveTest.h"

using namespace live_test;

namespace {

class Panel : public LiveFixture {
 protected:
  // Adds a family A sensor at identifier id reading a constant angle.
  int AddA(uint8_t id, double angle) {
    nivsim::SensorAConfig config;
    config.identifier = id;
    config.angle = nivsim::AngleSource::constant(angle);
    return bus->AddSensorA(config);
  }
  int AddB(uint8_t id, double angle) {
    nivsim::SensorBConfig config;
    config.identifier = id;
    config.angle = nivsim::AngleSource::constant(angle);
    return bus->AddSensorB(config);
  }
  // Waits for the panel's next count readings; false when they do not come.
  static bool Readings(TAfficheAngleCapteur *panel, int count, int ms = 4000) {
    int seen = 0;
    auto c = QObject::connect(panel, &TAfficheAngleCapteur::Lu, [&] { ++seen; });
    const bool ok = WaitUntil([&] { return seen >= count; }, ms);
    QObject::disconnect(c);
    return ok;
  }
  static QString Text(TAfficheAngleCapteur *panel) { return panel->PanelAngle->text(); }
};

struct UnitRow {
  uint8_t family;
  uint8_t unit;
  const char *text;
};

TEST_F(Panel, ShowsTheAngleInEachUnitWithTheDecimalsOfFamilyAndRange) {
  // 12.3 mRad on a 30-degree sensor (range class 1) of each family.
  AddA(1, 12.3);
  AddB(2, 12.3);
  const UnitRow rows[] = {
      {1, 0, "12.30 mRad"}, {1, 1, "0.705 Deg"}, {1, 2, "1.230 %"}, {1, 3, "12.30 mm/m"},
      {0, 0, "12.3 mRad"},  {0, 1, "0.70 Deg"},  {0, 2, "1.23 %"},  {0, 3, "12.3 mm/m"},
      // A damaged settings file's unit: the angle in mRad rather than blank.
      {1, 65, "12.30 mRad"},
  };
  TCapteur *a = Sensor(1, 1, 523.599);
  TCapteur *b = Sensor(0, 2, 523.599);
  for (const UnitRow &row : rows) {
    Settings.AngleUnit = row.unit;
    TAfficheAngleCapteur *panel = host->Panels.AddPanel(host->PanelCadres, row.family ? a : b);
    ASSERT_TRUE(Readings(panel, 1));
    EXPECT_EQ(Text(panel), QString::fromUtf8(row.text))
        << int(row.family) << " unit " << int(row.unit);
    host->Panels.RemoveAll();
  }
}

TEST_F(Panel, CreationShowsTheSensorAndItsHorizon) {
  AddA(1, 0.0);
  TCapteur *sensor = Sensor(1, 1, 523.599);
  sensor->Comment = "north pier";
  SetShortStringText(Settings.DisplayFont, QStringLiteral("Courier New"));
  Settings.DisplayFontHeight = 54;
  TAfficheAngleCapteur *panel = host->Panels.AddPanel(host->PanelCadres, sensor);
  EXPECT_EQ(panel->PanelAngle->font().pixelSize(), 54);
  EXPECT_EQ(panel->PanelAngle->font().family(), "Courier New");
  EXPECT_EQ(panel->objectName(), "AffAngle1");
  EXPECT_EQ(panel->LabelExplication->text(), QString::fromUtf8("KV72500-AB n°1001"));
  EXPECT_EQ(panel->VuMetre->LabelExplication->text(), panel->LabelExplication->text());
  EXPECT_EQ(panel->EditComment->toPlainText(), "north pier");
  EXPECT_EQ(panel->BoutStop->text(), "S&top");
  EXPECT_EQ(panel->BoiteReset->text(), "Reset");
  EXPECT_FALSE(panel->BoiteReset->isChecked());
  EXPECT_TRUE(panel->VuMetre->isVisible());
  EXPECT_EQ(panel->VuMetre->windowTitle(), "Horizon");
  // The frame follows its parent's width; the angle fills all but 50 pixels.
  panel->resize(300, 200);
  EXPECT_EQ(panel->width(), host->PanelCadres->width());
  EXPECT_EQ(panel->PanelAngle->geometry(), QRect(0, 0, host->PanelCadres->width(), 150));
  for (QWidget *w :
       {static_cast<QWidget *>(panel->BoutStop), static_cast<QWidget *>(panel->BoiteReset)})
    EXPECT_GE(w->width(), w->sizeHint().width()) << "caption never clipped";
  // A long sensor name on the default window width stays clear of the
  // comment box, whole.
  sensor->Data.Reference = "KV72500-AB-LONG";
  sensor->Data.SerialNumber = 1234567;
  host->PanelCadres->resize(528, 340);
  TAfficheAngleCapteur *named = host->Panels.AddPanel(host->PanelCadres, sensor);
  named->resize(528, 340);
  const QLabel *name = named->LabelExplication;
  EXPECT_LT(name->geometry().right(), named->EditComment->geometry().left());
  EXPECT_LT(name->geometry().right(), named->LabelComment->geometry().left());
  EXPECT_GE(name->width(), name->sizeHint().width());
  // So does its horizon window's, before the Close button, in the window's
  // first size; the whole name is in the tool tip.
  for (const TVuMetre *horizon : {panel->VuMetre, named->VuMetre}) {
    const QLabel *label = horizon->LabelExplication;
    EXPECT_LT(label->geometry().right(), horizon->BoutFerme->geometry().left())
        << label->text().toStdString();
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_EQ(label->toolTip(), label->text());
  }

  // A damaged settings file's height leaves the platform's size.
  Settings.DisplayFontHeight = INT32_MIN;
  TAfficheAngleCapteur *damaged = host->Panels.AddPanel(host->PanelCadres, sensor);
  EXPECT_EQ(damaged->PanelAngle->font().pixelSize(), damaged->LabelComment->font().pixelSize());
}

TEST_F(Panel, ResetZeroesTheTextButNotTheHorizon) {
  const int s = AddA(1, 12.3);
  TAfficheAngleCapteur *panel = host->Panels.AddPanel(host->PanelCadres, Sensor(1, 1, 523.599));
  ASSERT_TRUE(Readings(panel, 1));
  panel->BoiteReset->click();
  ASSERT_TRUE(Readings(panel, 1));
  EXPECT_EQ(Text(panel), "0.00 mRad");
  EXPECT_DOUBLE_EQ(panel->VuMetre->Angle(), 12.3);
  panel->BoiteReset->click();
  ASSERT_TRUE(Readings(panel, 1));
  EXPECT_EQ(Text(panel), "12.30 mRad");

  // In per cent the zero-referenced text is the slope of the difference.
  Settings.AngleUnit = 2;
  bus->SetAngle(s, nivsim::AngleSource::constant(500.0));
  ASSERT_TRUE(Readings(panel, 1));
  panel->BoiteReset->click();
  bus->SetAngle(s, nivsim::AngleSource::constant(700.0));
  ASSERT_TRUE(Readings(panel, 2));
  EXPECT_EQ(Text(panel), "20.271 %") << "tan(0.2) x 100, not tan(0.7) - tan(0.5)";
}

TEST_F(Panel, SilentSensorShowsErrAndRecovers) {
  const int s = AddA(1, 12.3);
  TAfficheAngleCapteur *panel = host->Panels.AddPanel(host->PanelCadres, Sensor(1, 1, 523.599));
  // What a screen reader reads of the panel after each reading.
  std::vector<QString> heard;
  QObject::connect(panel, &TAfficheAngleCapteur::Lu, [&] {
    const QString name = AccessibleText(panel->PanelAngle);
    if (heard.empty() || heard.back() != name) heard.push_back(name);
  });
  ASSERT_TRUE(Readings(panel, 1));
  bus->SetFault(s, nivsim::Fault::Silence);
  ASSERT_TRUE(Readings(panel, 1));
  EXPECT_EQ(Text(panel), "Err");
  EXPECT_EQ(panel->LastAngle(), 0.0) << "a failed reading leaves 0";
  EXPECT_EQ(panel->VuMetre->Angle(), 0.0);
  EXPECT_EQ(panel->VuMetre->Reading(), HorizonReading::Missing) << "not drawn level";
  ASSERT_TRUE(Readings(panel, 1));
  EXPECT_EQ(Text(panel), "Err") << "every tick while it stays silent";
  // Zero reference taken right after a failure is that 0.
  panel->BoiteReset->click();
  EXPECT_EQ(panel->ZeroOffset(), 0.0);
  bus->ClearFault(s);
  ASSERT_TRUE(Readings(panel, 2));
  EXPECT_EQ(Text(panel), "12.30 mRad");
  EXPECT_EQ(panel->VuMetre->Reading(), HorizonReading::Measured);
  EXPECT_EQ(heard, (std::vector<QString>{"12.30 mRad", "Err", "12.30 mRad"}));
  EXPECT_EQ(AccessibleText(panel->PanelAngle, QAccessible::Description), "Angle");
}

// A family A sensor that notes when each reading starts and ends.
class TimedSensor : public TCapteur72500 {
 public:
  uint8_t ReadAngle(double &angle) override {
    starts.push_back(std::chrono::steady_clock::now());
    const uint8_t failure = TCapteur72500::ReadAngle(angle);
    ends.push_back(std::chrono::steady_clock::now());
    return failure;
  }
  std::vector<std::chrono::steady_clock::time_point> starts, ends;
};

TEST_F(Panel, ReadingsStartThreeHundredMillisecondsAfterThePreviousEnded) {
  // Slow answers: a pause inside every answer makes each reading fail after
  // its retries, some 300 ms. The next one must still wait 300 ms after it.
  const int s = AddA(1, 1.0);
  bus->SetFault(s, nivsim::Fault::LongGap, 90);
  TimedSensor sensor;
  sensor.SetPort(static_cast<uint8_t>(comNumber));
  sensor.Data.Protocol = 0;
  sensor.Data.FullScale = 523.599;
  TAfficheAngleCapteur *panel = host->Panels.AddPanel(host->PanelCadres, &sensor);
  ASSERT_TRUE(Readings(panel, 4, 6000));
  host->Panels.RemoveAll();
  ASSERT_GE(sensor.starts.size(), 4u);
  for (size_t i = 1; i < sensor.starts.size(); ++i) {
    const double quiet =
        std::chrono::duration<double, std::milli>(sensor.starts[i] - sensor.ends[i - 1]).count();
    EXPECT_GE(quiet, 295.0) << i;
    EXPECT_LE(quiet, 600.0) << i;
  }
  const double slow =
      std::chrono::duration<double, std::milli>(sensor.ends[0] - sensor.starts[0]).count();
  EXPECT_GE(slow, 100.0) << "the reading was slow";
}

TEST_F(Panel, NumbersGrowUntilAllAreRemoved) {
  AddA(1, 0.0);
  TCapteur *sensor = Sensor(1, 1, 523.599);
  for (int i = 0; i < 3; ++i) host->Panels.AddPanel(host->PanelCadres, sensor);
  EXPECT_EQ(host->Numbers(), (std::vector<int>{1, 2, 3})) << "one sensor, several panels";
  EXPECT_NE(host->Panels.Item(0)->VuMetre, host->Panels.Item(1)->VuMetre);
  host->Panels.RemoveByNumber(2);
  host->Panels.RemoveByNumber(7);  // none: nothing happens
  EXPECT_EQ(host->Numbers(), (std::vector<int>{1, 3}));
  EXPECT_EQ(host->Panels.FindByNumber(2), nullptr);
  EXPECT_EQ(host->Panels.AddPanel(host->PanelCadres, sensor)->Number(), 4);
  host->Panels.RemoveAll();
  EXPECT_EQ(host->Panels.Count(), 0);
  EXPECT_EQ(host->Panels.PanelCounter, 0);
  EXPECT_EQ(host->Panels.AddPanel(host->PanelCadres, sensor)->Number(), 1);
  EXPECT_EQ(host->PanelCadres->findChildren<TAfficheAngleCapteur *>().size(), 1)
      << "removed panels are destroyed";
}

}  // namespace
