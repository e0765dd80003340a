// Opening and stopping live panels must not make the program grow: a user
// on site opens and closes panels all day.
#include <malloc.h>

#include <QApplication>
#include <QPushButton>

#include "LiveTest.h"
#include "ThreadSec.h"

using namespace live_test;

namespace {

// Bytes the heap holds, after giving back what can be given back.
size_t HeapInUse() {
  malloc_trim(0);
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

}  // namespace

class PanelMemory : public LiveFixture {
 protected:
  // Opens a panel and stops it with its button, count times.
  void OpenAndStop(TCapteur *sensor, int count) {
    for (int i = 0; i < count; ++i) {
      host->Panels.AddPanel(host->PanelCadres, sensor);
      QApplication::processEvents();
      host->Panels.Item(0)->BoutStop->click();
      ASSERT_TRUE(WaitUntil([&] { return host->Panels.Count() == 0; }, 3000));
    }
    ASSERT_TRUE(WaitUntil([] { return TThreadSec::LiveCount() == 0; }, 5000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(PanelMemory, PanelsOpenedAndStoppedLeaveTheHeapAsItWas) {
  // A port with no device: every reading fails at once.
  setenv("NIVELIX_COM9", "/nonexistent/nivelix-tty", 1);
  TCapteur *sensor = Sensor(1, 1, 523.599);
  sensor->SetPort(9);
  OpenAndStop(sensor, 50);  // the toolkit's caches fill once
  const size_t before = HeapInUse();
  constexpr int Panels = 100;
  OpenAndStop(sensor, Panels);
  const long growth = static_cast<long>(HeapInUse()) - static_cast<long>(before);
  // Each panel used to keep about 2 KB through fresh copies of its icons.
  EXPECT_LT(growth / Panels, 200) << growth << " bytes kept by " << Panels << " panels";
}
