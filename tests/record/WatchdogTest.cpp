// nivelix-record given a notification socket and a watchdog time as systemd
// gives them to a Type=notify service with WatchdogSec=: it says READY=1
// once its first line is in the file, and pings often enough while it waits
// for a long period and while silent sensors make one sample outlast the
// watchdog's time.
#include <poll.h>
#include <sys/un.h>

#include <cstdlib>

#include "RecordFixture.h"

namespace {

using namespace std::chrono_literals;

long long Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

struct Notice {
  std::chrono::steady_clock::time_point when;
  std::string text;
};

// A unix datagram socket bound in the scratch folder, as systemd's own.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string &path) {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    m_bound = ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  }
  ~NotifySocket() { ::close(m_fd); }
  bool Bound() const { return m_bound; }
  // The next message, or none within timeoutMs.
  bool Next(int timeoutMs, Notice &notice) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n < 0) return false;
    notice = {std::chrono::steady_clock::now(), std::string(buffer, static_cast<std::size_t>(n))};
    return true;
  }

 private:
  int m_fd = -1;
  bool m_bound = false;
};

struct WatchdogCase {
  const char *name;
  const char *watchdogUsec;  // WATCHDOG_USEC given to the recorder
  const char *period;
  int periodMs;
  int sensors;
  bool silent;    // every sensor stops answering once the first line is in
  int watchMs;    // how long the pings are watched after READY=1
  int maxGapMs;   // the longest allowed time between two messages
};

class WatchdogTest : public RecordFixture, public ::testing::WithParamInterface<WatchdogCase> {};

TEST_P(WatchdogTest, ReadyAfterTheFirstLineAndPingsInTime) {
  const WatchdogCase &c = GetParam();
  std::vector<std::string> args = {"--period", c.period, "--file", dir + "/run.txt"};
  for (int i = 0; i < c.sensors; ++i) {
    nivsim::SensorAConfig a;
    a.identifier = static_cast<uint8_t>(10 + i);
    bus->AddSensorA(a);
    args.insert(args.end(), {"--sensor", std::to_string(10 + i)});
  }
  NotifySocket socket(dir + "/notify");
  ASSERT_TRUE(socket.Bound());
  ::setenv("NOTIFY_SOCKET", (dir + "/notify").c_str(), 1);
  ::setenv("WATCHDOG_USEC", c.watchdogUsec, 1);
  const auto started = std::chrono::steady_clock::now();
  auto recorder = StartRecorder(args);
  ::unsetenv("NOTIFY_SOCKET");
  ::unsetenv("WATCHDOG_USEC");

  const std::string extend = std::string("EXTEND_TIMEOUT_USEC=") + c.watchdogUsec;
  const std::size_t header = static_cast<std::size_t>(c.sensors) + 3;
  auto last = started;
  std::chrono::steady_clock::time_point ready{}, until = started + 60s;
  std::size_t pings = 0;
  Notice n;
  while (std::chrono::steady_clock::now() < until && socket.Next(c.maxGapMs + 2000, n)) {
    EXPECT_LE(Ms(n.when - last), c.maxGapMs) << "ms before " << n.text;
    last = n.when;
    if (ready == std::chrono::steady_clock::time_point{}) {
      if (n.text.rfind("READY=1", 0) == 0) {
        ready = n.when;
        until = ready + std::chrono::milliseconds(c.watchMs);
        // Said once the first line is whole in the file, not before.
        EXPECT_EQ(CrlfLines(ReadWhole(dir + "/run.txt")).size(), header + 1);
        EXPECT_GE(Ms(ready - started), c.periodMs * 9 / 10);
        for (int i = 0; c.silent && i < c.sensors; ++i) bus->SetFault(i, nivsim::Fault::Silence);
      } else {
        // Starting: each ping also lets the start last a watchdog's time more.
        EXPECT_EQ(n.text, "WATCHDOG=1\n" + extend);
      }
    } else {
      EXPECT_EQ(n.text, "WATCHDOG=1");
      ++pings;
    }
  }
  ASSERT_NE(ready, std::chrono::steady_clock::time_point{}) << ReadWhole(dir + "/record.log");
  EXPECT_LE(Ms(std::chrono::steady_clock::now() - last), c.maxGapMs + 500);
  EXPECT_GE(pings, static_cast<std::size_t>(c.watchMs / c.maxGapMs));
  if (c.silent) {
    // The silent samples each lasted longer than the watchdog's time, and
    // their lines were still written, with empty fields.
    const std::vector<std::string> lines = CrlfLines(ReadWhole(dir + "/run.txt"));
    ASSERT_GE(lines.size(), header + 2);
    EXPECT_LT(lines.size() - header - 1, static_cast<std::size_t>(
                  c.watchMs / (std::atoll(c.watchdogUsec) / 1000)));
    EXPECT_EQ(Fields(lines[header + 1]).size(), static_cast<std::size_t>(c.sensors) + 1);
    EXPECT_EQ(Fields(lines[header + 1])[1], "") << lines[header + 1];
  }
  recorder->Signal(SIGTERM);
  EXPECT_EQ(recorder->Wait(60000), 8) << ReadWhole(dir + "/record.log");
}

const WatchdogCase Watchdogs[] = {
    // A period far longer than the watchdog: the wait is cut into pings.
    {"LongPeriod", "2000000", "6s", 6000, 2, false, 7000, 1500},
    // A watchdog of minutes still gets pings every 10 s at the latest.
    {"TenSecondsAtMost", "120000000", "12s", 12000, 1, false, 11000, 10000},
    // Silent sensors: one sample lasts longer than the watchdog, its pings
    // come between the sensor calls.
    {"SilentSensors", "1000000", "1s", 1000, 12, true, 8000, 900},
};

INSTANTIATE_TEST_SUITE_P(Service, WatchdogTest, ::testing::ValuesIn(Watchdogs), ByName);

}  // namespace
