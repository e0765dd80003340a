// bench_scan: how long the RS485 presence sweep of the bus scan takes on a
// line where nothing answers, against the waits and time-outs the protocol
// prescribes, and how long a Stop click takes to end the sweep.
//
// Usage: bench_scan [sweeps] [stops]   (default 1 full sweep, 10 stops)
//
// The scan runs as in the program, on the calling thread, through a shell
// without windows. A "click" is a flag set by a second thread at a random
// moment; the shell's event processing (called after every update, as the
// program's event loop would deliver the click) turns it into RequestStop.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "DefCom72500.h"
#include "DefCom72800.h"
#include "ListeCapteurs.h"
#include "SimBus.h"
#include "ThScrute.h"

namespace {

constexpr int ComNumber = 7;
using Clock = std::chrono::steady_clock;

// What the protocol prescribes for one silent address: four attention tries
// whose one-byte reads each end after their total time-out (2 x 1 + 20 ms),
// three pauses of 50 ms plus a random 0..19 ms between them (mean 9.5), and
// the scan's 20 ms wait.
constexpr double ReadTimeoutMs = 2.0 * 1 + 20.0;
constexpr double SilentAddressMs = 4 * ReadTimeoutMs + 3 * (50.0 + 9.5) + 20.0;
constexpr double SilentAddressMinMs = 4 * ReadTimeoutMs + 3 * 50.0 + 20.0;
constexpr double SilentAddressMaxMs = 4 * ReadTimeoutMs + 3 * (50.0 + 19.0) + 20.0;

double MsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

class BenchShell : public ScanShell {
 public:
  TlistCapteur sensors;
  std::atomic<bool> click{false};
  Clock::time_point clickSeen{};
  Clock::time_point sweepEnd{};
  int lastProgress = 0;
  int addresses = 0;  // progress updates of the sweep: one per address tested

  int32_t ScanPortNumber() const override { return ComNumber; }
  uint8_t ScanLinkType() const override { return ScanLinkRs485; }
  TlistCapteur *ScanSensorList() override { return &sensors; }
  std::string ScanTextOf(ScanText) const override { return std::string(); }  // nothing is shown
  void SetScanStatus(const std::string &) override {
    // The first status after the sweep ("No sensor is connected" on a
    // silent line) marks its end.
    if (sweepEnd == Clock::time_point{} && addresses > 0) sweepEnd = Clock::now();
  }
  void SetScanProgress(int32_t percent) override {
    if (sweepEnd != Clock::time_point{}) return;  // the final 0
    lastProgress = percent;
    ++addresses;
  }
  void SetScanState(bool) override {}
  void AppendScanLine(const std::string &) override {}
  void DiscardAcquisitionFrame() override {}
  void AddSensorReadingItem(TCapteur *) override {}
  void ProcessPendingEvents() override {
    if (click.exchange(false)) {
      clickSeen = Clock::now();
      RequestStop();
    }
  }
};

}  // namespace

int main(int argc, char **argv) {
  const int sweeps = argc > 1 ? std::max(0, std::atoi(argv[1])) : 1;
  const int stops = argc > 2 ? std::max(0, std::atoi(argv[2])) : 10;
  nivsim::SimBus bus;  // no sensor: every address is silent
  bus.PointCom(ComNumber);

  std::printf("RS485 presence sweep, nothing connected, 255 addresses\n");
  std::printf("prescribed per silent address: %.1f ms (range %.1f .. %.1f)\n", SilentAddressMs,
              SilentAddressMinMs, SilentAddressMaxMs);
  std::printf("prescribed full sweep:         %.1f s (range %.1f .. %.1f)\n", 255 * SilentAddressMs / 1000,
              255 * SilentAddressMinMs / 1000, 255 * SilentAddressMaxMs / 1000);
  for (int i = 0; i < sweeps; ++i) {
    BenchShell shell;
    SetScanShell(&shell);
    const auto start = Clock::now();
    ScanLine();
    const double sweepMs = MsBetween(start, shell.sweepEnd);
    const double totalMs = MsBetween(start, Clock::now());
    std::printf("sweep %d: %.2f s (%.2f %% of the prescribed %.2f s), whole scan %.2f s, progress %d\n", i + 1,
                sweepMs / 1000, 100.0 * sweepMs / (255 * SilentAddressMs), 255 * SilentAddressMs / 1000,
                totalMs / 1000, shell.lastProgress);
    if (shell.addresses != 255) std::printf("  (%d addresses tested, not 255)\n", shell.addresses);
  }

  // Stop: a click at a random moment of the sweep; the time from the click
  // to the end of the sweep.
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> clickAfterMs(1000, 3000);
  std::vector<double> latencies;
  for (int i = 0; i < stops; ++i) {
    BenchShell shell;
    SetScanShell(&shell);
    const int after = clickAfterMs(random);
    Clock::time_point clicked;
    std::thread clicker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(after));
      clicked = Clock::now();
      shell.click = true;
    });
    ScanLine();
    clicker.join();
    const double latency = MsBetween(clicked, shell.sweepEnd);
    latencies.push_back(latency);
    std::printf("stop %2d: click at %4d ms, seen after %6.1f ms, sweep ended %6.1f ms after the click "
                "(address %d)\n",
                i + 1, after, MsBetween(clicked, shell.clickSeen), latency, shell.addresses);
  }
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    std::printf("stop latency: median %.1f ms, max %.1f ms (one silent address: %.1f ms prescribed, "
                "at most %.1f ms)\n",
                latencies[latencies.size() / 2], latencies.back(), SilentAddressMs, SilentAddressMaxMs);
  }
  SetScanShell(nullptr);
  Com72500_ClosePort();
  Com72800_ClosePort();
  return 0;
}
