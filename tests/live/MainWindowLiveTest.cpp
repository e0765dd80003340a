// Live reading in the program's main window: panels chosen from the
// "Sensor reading" items share PanelCadres, and their Stop buttons remove
// them through the window's worker.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "ListeCapteurs.h"
#include "LiveTest.h"
#include "principale.h"

using namespace live_test;

namespace {

class MainWindowLive : public LiveFixture {
 protected:
  void SetUp() override {
    LiveFixture::SetUp();
    window = std::make_unique<TFenetrePrincipale>();
    window->show();
  }
  void TearDown() override {
    window.reset();
    LiveFixture::TearDown();
  }
  bool AcquisitionEnabled() const {
    return window->findChild<QAction *>(QStringLiteral("MenuAcquisition"))->isEnabled();
  }
  // Makes PanelCadres height pixels high.
  void PanelAreaHeight(int height) {
    window->resize(window->width(), window->height() + height - window->PanelCadres()->height());
    QCoreApplication::processEvents();
    window->LayoutPanels();
  }
  std::vector<QRect> Slots() const {
    std::vector<QRect> places;
    for (int i = 0; i < window->Panels().Count(); ++i)
      places.push_back(window->Panels().Item(i)->geometry());
    return places;
  }

  std::unique_ptr<TFenetrePrincipale> window;
};

TEST_F(MainWindowLive, PanelsShareTheAreaAndStopGivesAcquisitionBackWithTheLast) {
  nivsim::SensorAConfig config;
  config.angle = nivsim::AngleSource::constant(5.0);
  bus->AddSensorA(config);
  SensorData data;
  data.Family = 1;
  data.Reference = "KV72500-AB";
  data.SerialNumber = 123456;
  data.Protocol = 0;
  data.FullScale = 523.599;
  window->AddSensorReadingItem(SensorList->AddSensor(data, static_cast<uint8_t>(comNumber)));
  QMenu *items = window->findChild<QMenu *>(QStringLiteral("MenuAffiche"));
  ASSERT_EQ(items->actions().size(), 1);
  for (int i = 0; i < 3; ++i) items->actions()[0]->trigger();
  EXPECT_FALSE(AcquisitionEnabled());
  ASSERT_EQ(window->Panels().Count(), 3) << "the same sensor three times";

  PanelAreaHeight(400);
  const int w = window->PanelCadres()->width();
  EXPECT_EQ(Slots(), (std::vector<QRect>{QRect(0, 0, w, 133), QRect(0, 133, w, 133),
                                         QRect(0, 266, w, 133)}));
  ASSERT_TRUE(
      WaitUntil([&] { return window->Panels().Item(2)->PanelAngle->text() == "5.00 mRad"; }, 4000));

  window->Panels().FindByNumber(2)->BoutStop->click();
  EXPECT_EQ(window->Panels().Count(), 3) << "never removed inside its own click handler";
  ASSERT_TRUE(WaitUntil([&] { return window->Panels().Count() == 2; }, 5000));
  EXPECT_EQ(Slots(), (std::vector<QRect>{QRect(0, 0, w, 200), QRect(0, 200, w, 200)}))
      << "the rest share the area again";
  EXPECT_FALSE(AcquisitionEnabled()) << "one of several closed";

  // Two quick clicks: both go.
  window->Panels().FindByNumber(1)->BoutStop->click();
  window->Panels().FindByNumber(3)->BoutStop->click();
  ASSERT_TRUE(WaitUntil([&] { return window->Panels().Count() == 0; }, 5000));
  EXPECT_TRUE(AcquisitionEnabled()) << "the last one closed";
  items->actions()[0]->trigger();
  EXPECT_EQ(window->Panels().Item(0)->Number(), 4) << "stopped panels keep their numbers";
  EXPECT_TRUE(WaitUntil([] { return TThreadSec::LiveCount() == 0; }, 5000));
}

}  // namespace
