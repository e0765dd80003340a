// Closing panels with their Stop button: the shared named event and the
// worker thread that removes a stopped panel on the user-interface thread.
#include <dirent.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include <QPushButton>

#include "EvenementNomme.h"
#include "LiveTest.h"

using namespace live_test;

namespace {

int ThreadsOfProcess() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/task")) {
    while (dirent *e = readdir(dir))
      if (e->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

TEST(NamedEvent, OneEventPerNameOpenedOrCreated) {
  EXPECT_EQ(TEvenementNomme::OpenEventCount(), 0);
  {
    TEvenementNomme first("EvenementTest");
    EXPECT_FALSE(first.IsSet()) << "created not signalled";
    first.Set();
    TEvenementNomme second("EvenementTest");
    EXPECT_TRUE(second.IsSet()) << "opening an existing event keeps its state";
    TEvenementNomme other("AutreEvenement");
    EXPECT_FALSE(other.IsSet());
    EXPECT_EQ(TEvenementNomme::OpenEventCount(), 2);
    second.Reset();
    EXPECT_FALSE(first.IsSet());

    // Manual reset: a signal wakes every waiter and stays until reset.
    std::atomic<int> woken{0};
    std::thread a([&] {
      first.Wait();
      ++woken;
    });
    std::thread b([&] {
      second.Wait();
      ++woken;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(woken.load(), 0);
    first.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_TRUE(second.IsSet());

    // A waiter that saw generation g is woken by a later signal only, and
    // keeps it even when the event was reset in between.
    const uint64_t seen = first.Generation();
    EXPECT_FALSE(first.WaitSignalAfterFor(seen, 20)) << "the standing signal is older";
    second.Set();
    first.Reset();
    EXPECT_TRUE(first.WaitSignalAfterFor(seen, 0));
  }
  EXPECT_EQ(TEvenementNomme::OpenEventCount(), 0) << "the last handle takes the event away";
  TEvenementNomme fresh("EvenementTest");
  EXPECT_FALSE(fresh.IsSet());
}

class Worker : public LiveFixture {
 protected:
  void SetUp() override {
    LiveFixture::SetUp();
    // Panels on a port with no device: each reading fails at once, so a
    // hundred panels cost nothing on the line.
    setenv("NIVELIX_COM9", "/nonexistent/nivelix-tty", 1);
    sensor = Sensor(1, 1, 523.599);
    sensor->SetPort(9);
  }
  void TearDown() override {
    TThreadSec::SetStepHook(nullptr);
    LiveFixture::TearDown();
  }
  void Open(int count) {
    for (int i = 0; i < count; ++i) host->Panels.AddPanel(host->PanelCadres, sensor);
  }
  void Stop(int number) { host->Panels.FindByNumber(number)->BoutStop->click(); }
  bool AllWorkersGone() {
    return WaitUntil([] { return TThreadSec::LiveCount() == 0; }, 5000);
  }

  TCapteur *sensor = nullptr;
};

TEST_F(Worker, SignalGivenAfterAnotherWorkerResetIsNotLost) {
  // Worker 1 is held between waking and resetting; worker 2 is held before
  // it waits. Panel 2 signals while the event is still set, then worker 1
  // resets it, and only then does worker 2 begin to wait.
  Open(3);
  std::mutex mutex;
  std::set<std::pair<int, TThreadSec::Step>> reached;
  std::atomic<bool> release1{false}, release2{false};
  TThreadSec::SetStepHook([&](int number, TThreadSec::Step step) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      reached.insert({number, step});
    }
    if (number == 1 && step == TThreadSec::Step::Woken)
      while (!release1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (number == 2 && step == TThreadSec::Step::BeforeWait)
      while (!release2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  auto reachedStep = [&](int number, TThreadSec::Step step) {
    return WaitUntil(
        [&] {
          std::lock_guard<std::mutex> lock(mutex);
          return reached.count({number, step}) > 0;
        },
        5000);
  };

  Stop(1);
  ASSERT_TRUE(reachedStep(1, TThreadSec::Step::Woken));
  Stop(2);
  ASSERT_TRUE(reachedStep(2, TThreadSec::Step::BeforeWait));
  release1 = true;
  ASSERT_TRUE(reachedStep(1, TThreadSec::Step::AfterReset));
  ASSERT_TRUE(WaitUntil([&] { return host->Panels.FindByNumber(1) == nullptr; }, 5000));
  release2 = true;
  EXPECT_TRUE(WaitUntil([&] { return host->Panels.FindByNumber(2) == nullptr; }, 3000))
      << "panel 2's close was lost";
  EXPECT_EQ(host->Numbers(), (std::vector<int>{3}));
  EXPECT_TRUE(AllWorkersGone());
}

TEST_F(Worker, HundredPanelsOpenedAndStoppedLeaveNoThread) {
  const int threadsBefore = ThreadsOfProcess();
  for (int round = 0; round < 10; ++round) {
    Open(10);
    for (int i = 0; i < 10; ++i) host->Panels.Item(i)->BoutStop->click();
    ASSERT_TRUE(WaitUntil([&] { return host->Panels.Count() == 0; }, 10000)) << round;
  }
  EXPECT_EQ(host->Panels.PanelCounter, 100) << "stopped panels keep their numbers";
  EXPECT_TRUE(AllWorkersGone());
  EXPECT_TRUE(WaitUntil([&] { return ThreadsOfProcess() <= threadsBefore; }, 5000))
      << ThreadsOfProcess() << " threads, " << threadsBefore << " before";
  EXPECT_EQ(TEvenementNomme::OpenEventCount(), 0);
  EXPECT_TRUE(host->PanelCadres->findChildren<QWidget *>().isEmpty());
}

}  // namespace
