// nivelix-record end to end: the simulator on a pseudo-terminal, a real
// broker, the recorder as its own process.
#include <sys/resource.h>

#include <cstdio>

#include "RecordFixture.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> FileLines(const std::string &path) { return CrlfLines(ReadWhole(path)); }

// The file's line count once it has n lines, or after half a minute.
std::size_t WaitForLines(const std::string &path, std::size_t n) {
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (FileLines(path).size() < n && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(5ms);
  return FileLines(path).size();
}

void ExpectSaidOnce(const std::string &log, const std::string &text) {
  const std::size_t at = log.find(text);
  EXPECT_NE(at, std::string::npos) << text << "\n" << log;
  EXPECT_EQ(log.find(text, at + 1), std::string::npos) << text << "\n" << log;
}

class RecordRunTest : public RecordFixture {};

// Every sample reaches the subscriber, whatever bytes the site and the
// references hold: what is not UTF-8 becomes "_" in the topic, never a
// message the broker refuses.
struct Naming {
  const char *name;
  std::string site, referenceB;
  const char *topicA, *topicB;
};

class NamingTest : public RecordFixture, public ::testing::WithParamInterface<Naming> {};

TEST_P(NamingTest, EveryLineOfTheFileReachesTheSubscriber) {
  const Naming &c = GetParam();
  AddTwoSensors(c.referenceB);
  Subscribe();
  auto recorder = StartRecorder({"--sensor", "3", "--sensor", "7", "--period", "1s", "--duration",
                                 "5s", "--file", dir + "/run.txt", "--mqtt", BrokerUrl(),
                                 "--site", c.site});
  ASSERT_EQ(recorder->Wait(40000), 0) << ReadWhole(dir + "/record.log");
  const std::vector<std::string> lines = FileLines(dir + "/run.txt");
  ASSERT_EQ(lines.size(), 5u + 5u);
  const std::vector<Received> received = WaitReceived(10, 10000);
  ExpectFileReachedSubscriber(lines, 2, received);
  EXPECT_EQ(received.front().topic, c.topicA);
  EXPECT_EQ(received[1].topic, c.topicB);
  EXPECT_EQ(JsonMember(received[1].payload, "unit"), "\"Deg\"");
  // Who and which sample, without parsing the topic.
  const std::string topic = received[8].topic;
  EXPECT_EQ(JsonMember(received[8].payload, "site"),
            "\"" + topic.substr(8, topic.rfind('/') - 8) + "\"");
  EXPECT_EQ(JsonMember(received[8].payload, "sensor"), "\"" + topic.substr(topic.rfind('/') + 1) + "\"");
  EXPECT_EQ(JsonMember(received[8].payload, "address"), "3");
  EXPECT_EQ(JsonMember(received[8].payload, "seq"), "5");
  EXPECT_EQ(ReadWhole(dir + "/broker.log").find("malformed"), std::string::npos);
}

const Naming Namings[] = {
    {"Plain", "bridge 4", "KV7280", "nivelix/bridge_4/KV72500-AB-123456",
     "nivelix/bridge_4/KV7280-54321"},
    {"Latin1", "\xE9" "cluse", "KV72\xB5" "0", "nivelix/_cluse/KV72500-AB-123456",
     "nivelix/_cluse/KV72_0-54321"},
};

INSTANTIATE_TEST_SUITE_P(Sites, NamingTest, ::testing::ValuesIn(Namings), ByName);

// A broker that refuses the login, one that drops every connection at once:
// neither is hammered, the recording keeps every line, and the recorder's
// cost stays small. The refusal is said once, with the broker's reason.
struct HostileBroker {
  const char *name;
  FakeBroker::Kind kind;
  int mostConnections;  // in the 10 s run
  const char *saysOnce;
};

class HostileBrokerTest : public RecordFixture, public ::testing::WithParamInterface<HostileBroker> {};

TEST_P(HostileBrokerTest, IsNotHammeredAndTheFileHasEveryLine) {
  const HostileBroker &c = GetParam();
  AddTwoSensors();
  FakeBroker broker(c.kind);
  rusage before{}, after{};
  ::getrusage(RUSAGE_CHILDREN, &before);
  auto recorder = StartRecorder({"--sensor", "3", "--sensor", "7", "--period", "1s", "--duration",
                                 "10s", "--file", dir + "/run.txt", "--mqtt",
                                 "mqtt://127.0.0.1:" + std::to_string(broker.port)});
  ASSERT_EQ(recorder->Wait(60000), 0) << ReadWhole(dir + "/record.log");
  ::getrusage(RUSAGE_CHILDREN, &after);
  EXPECT_GE(broker.connections, 1);
  EXPECT_LE(broker.connections, c.mostConnections);
  EXPECT_EQ(FileLines(dir + "/run.txt").size(), 5u + 10u);
  ExpectSaidOnce(ReadWhole(dir + "/record.log"), c.saysOnce);
  const auto cpuMs = [](const rusage &u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
  };
  // Twenty readings on the line and a drain of 10 s: well under a second.
  EXPECT_LT(cpuMs(after) - cpuMs(before), 1000.0);
}

const HostileBroker HostileBrokers[] = {
    {"RefusesLogin", FakeBroker::Kind::RefusesLogin, 2,
     "<3>nivelix-record: the broker 127.0.0.1:"},
    {"DropsAtOnce", FakeBroker::Kind::DropsAtOnce, 6, "closed the connection before accepting it"},
};

INSTANTIATE_TEST_SUITE_P(Brokers, HostileBrokerTest, ::testing::ValuesIn(HostileBrokers), ByName);

// A clean stop says "offline" itself; a recorder killed outright has its
// last will published as soon as its connection closes; one that stops
// answering with its connection open (a frozen or dead PC, a cut cable: a
// stopped process here) is reported offline by the broker after one and a
// half keep-alives.
TEST_F(RecordRunTest, KilledRecorderIsSeenOffline) {
  AddTwoSensors();
  Subscribe();
  for (int signal : {SIGTERM, SIGKILL, SIGSTOP}) {
    auto recorder = StartRecorder({"--sensor", "3", "--period", "1s", "--file", dir + "/run.txt",
                                   "--mqtt", BrokerUrl(), "--site", "pier", "--mqtt-keepalive", "10"});
    std::vector<Received> statuses = WaitStatus("online", 20000);
    ASSERT_FALSE(statuses.empty()) << ReadWhole(dir + "/record.log");
    EXPECT_EQ(statuses.back().topic, "nivelix/pier/status");
    EXPECT_EQ(statuses.back().payload, "online");
    const std::size_t seen = statuses.size();
    const auto killed = std::chrono::steady_clock::now();
    recorder->Signal(signal);
    statuses = WaitStatus("offline", 40000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    ASSERT_GT(statuses.size(), seen) << signal;
    EXPECT_EQ(statuses.back().payload, "offline") << signal;
    // The broker looks at keep-alives in rounds: 1.5 keep-alives after the
    // last packet, then up to about 3 s (measured 16.5 to 17.2 s for 10 s).
    EXPECT_LT(seconds, signal == SIGSTOP ? 1.5 * 10 + 4.0 : 3.0) << signal;
    if (signal == SIGSTOP)
      EXPECT_GT(seconds, 1.5 * 10 - 1.5) << "before the keep-alive was missed";
    else
      recorder->Wait(10000);
    ClearStatuses();
  }
}

// A sensor missing at the start is left out and the others recorded; the
// port lost for a few seconds and back is said once each way, with the
// priorities the journal reads, never once per sample.
TEST_F(RecordRunTest, JournalSaysEachChangeOnce) {
  AddTwoSensors();
  auto recorder = StartRecorder({"--sensor", "3", "--sensor", "9", "--sensor", "7", "--period",
                                 "1s", "--duration", "12s", "--file", dir + "/run.txt"});
  WaitForLines(dir + "/run.txt", 5u + 2u);
  bus->Unplug();
  std::this_thread::sleep_for(4s);
  bus->Replug();
  ASSERT_EQ(recorder->Wait(40000), 0) << ReadWhole(dir + "/record.log");
  const std::vector<std::string> lines = FileLines(dir + "/run.txt");
  ASSERT_EQ(lines.size(), 5u + 12u);
  EXPECT_EQ(lines[4], "Inclinometer\tKV72500-AB - 123456\tKV7280 - 54321");
  EXPECT_NE(Fields(lines.back()).at(2), "") << "read again: " << lines.back();
  const std::string log = ReadWhole(dir + "/record.log");
  for (const char *once : {"<4>nivelix-record: no sensor answers at address 9 on COM5",
                           ": not found; samples are recorded with empty fields",
                           "<6>nivelix-record: COM5 is back"})
    ExpectSaidOnce(log, once);
  EXPECT_EQ(log.find("does not answer"), std::string::npos) << log;
}

// Half a minute without a broker in the middle of a run: the recording keeps
// its pace, and afterwards every message arrives, in order.
TEST_F(RecordRunTest, BrokerAwayForThirtySecondsLosesNothing) {
  AddTwoSensors();
  Subscribe();
  const auto started = std::chrono::steady_clock::now();
  auto recorder = StartRecorder({"--sensor", "3", "--sensor", "7", "--period", "1s", "--duration",
                                 "45s", "--file", dir + "/run.txt", "--mqtt", BrokerUrl()});
  WaitReceived(6, 20000);
  StopBroker();
  std::this_thread::sleep_for(30s);
  StartBroker();
  ASSERT_EQ(recorder->Wait(60000), 0) << ReadWhole(dir + "/record.log");
  // 45 samples, plus the sensors' first reading and the wait for the last
  // messages: well under a minute unless the outage held the recording up.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 70s);
  const std::vector<std::string> lines = FileLines(dir + "/run.txt");
  ASSERT_EQ(lines.size(), 5u + 45u);
  ExpectFileReachedSubscriber(lines, 2, WaitReceived(90, 20000));
}

// A stop signal that arrives while a line is being taken ends the run once
// that line is whole, with the documented exit code.
class StopSignalTest : public RecordFixture, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, EndsAfterTheLineUnderWay) {
  AddTwoSensors();
  auto recorder = StartRecorder(
      {"--sensor", "3", "--sensor", "7", "--period", "1s", "--file", dir + "/run.txt"});
  ASSERT_EQ(WaitForLines(dir + "/run.txt", 5u + 2u), 5u + 2u);
  const auto until = std::chrono::steady_clock::now() + 30s;
  // The third line's readings start: the first byte on the wire.
  const std::size_t before = bus->Trace().size();
  while (bus->Trace().size() == before && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(1ms);
  recorder->Signal(GetParam());
  EXPECT_EQ(recorder->Wait(10000), 8) << ReadWhole(dir + "/record.log");
  const std::vector<std::string> lines = FileLines(dir + "/run.txt");
  ASSERT_EQ(lines.size(), 5u + 3u);
  EXPECT_EQ(Fields(lines.back()).size(), 3u) << lines.back();
  EXPECT_EQ(ReadWhole(dir + "/run.txt").substr(ReadWhole(dir + "/run.txt").size() - 2), "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGTERM, SIGINT));

// A restart (a service after a failure) with the same file name starts a new
// file and leaves the first run's file as it was. On an RS232 line, whose
// one sensor needs no address.
TEST_F(RecordRunTest, RestartWritesANewFileAndLeavesTheOldOne) {
  WriteSettings(LinkRs232);
  nivsim::SensorAConfig a;
  a.rs232 = true;
  bus->AddSensorA(a);
  const std::vector<std::string> args = {"--period", "1s", "--duration", "2s", "--file",
                                         dir + "/same.txt"};
  ASSERT_EQ(StartRecorder(args)->Wait(30000), 0);
  const std::string first = ReadWhole(dir + "/same.txt");
  ASSERT_EQ(CrlfLines(first).size(), 4u + 2u);
  ASSERT_EQ(StartRecorder(args, "second.log")->Wait(30000), 0);
  EXPECT_EQ(ReadWhole(dir + "/same.txt"), first);
  const std::string log = ReadWhole(dir + "/second.log");
  const std::size_t at = log.find(dir + "/same-");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string second = log.substr(at, log.find(".txt", at) + 4 - at);
  EXPECT_EQ(CrlfLines(ReadWhole(second)).size(), 4u + 2u) << second;
}

// The file taken away during the run: it is never made again behind the
// user's back; the lines wait in memory and go to it, in order, once it is
// back, and a file that never comes back ends the run with the file code.
struct FileOutage {
  const char *name;
  bool putBack;
  int exitCode;
  std::size_t sampleLines;  // in the file at the end
  const char *says;
};

class FileOutageTest : public RecordFixture, public ::testing::WithParamInterface<FileOutage> {};

TEST_P(FileOutageTest, LinesWaitForTheFile) {
  const FileOutage &c = GetParam();
  AddTwoSensors();
  const std::string path = dir + "/gone.txt", away = dir + "/away.txt";
  auto recorder = StartRecorder({"--sensor", "3", "--period", "1s", "--duration", "4s", "--file", path});
  WaitForLines(path, 4u + 1u);
  ASSERT_EQ(::rename(path.c_str(), away.c_str()), 0);
  if (c.putBack) {
    std::this_thread::sleep_for(1500ms);  // at least one sample refused
    ASSERT_EQ(::rename(away.c_str(), path.c_str()), 0);
  }
  EXPECT_EQ(recorder->Wait(30000), c.exitCode);
  const std::string log = ReadWhole(dir + "/record.log");
  EXPECT_NE(log.find("cannot write " + path + ": file deleted"), std::string::npos) << log;
  EXPECT_NE(log.find(c.says), std::string::npos) << log;
  const std::vector<std::string> lines = CrlfLines(ReadWhole(c.putBack ? path : away));
  ASSERT_EQ(lines.size(), 4u + c.sampleLines);
  EXPECT_EQ(std::ifstream(path).good(), c.putBack) << "made again";
  // Dates year/month/day: "Y/M/D h:m:s", numbers without leading zeros.
  auto seconds = [](const std::string &line) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    std::sscanf(line.c_str(), "%d/%d/%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se);
    return ((d * 24 + h) * 60 + mi) * 60 + se;
  };
  for (std::size_t i = 5; i < lines.size(); ++i)
    EXPECT_LT(seconds(lines[i - 1]), seconds(lines[i])) << "in order: " << lines[i];
}

const FileOutage Outages[] = {
    {"PutBack", true, 0, 4, "waiting line(s) went to it"},
    {"NeverBack", false, 6, 1, "3 line(s) could not be written"},
};

INSTANTIATE_TEST_SUITE_P(Files, FileOutageTest, ::testing::ValuesIn(Outages), ByName);

}  // namespace
