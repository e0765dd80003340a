// nivelix-record end to end: the simulator on a pseudo-terminal, a real
// broker, the recorder as its own process.
#include "RecordFixture.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> FileLines(const std::string &path) { return CrlfLines(ReadWhole(path)); }

class RecordRunTest : public RecordFixture {};

TEST_F(RecordRunTest, EveryLineOfTheFileReachesTheSubscriber) {
  AddTwoSensors();
  Subscribe();
  auto recorder = StartRecorder({"--sensor", "3", "--sensor", "7", "--period", "1s", "--duration",
                                 "5s", "--file", dir + "/run.txt", "--mqtt", BrokerUrl(),
                                 "--site", "bridge 4"});
  ASSERT_EQ(recorder->Wait(40000), 0) << ReadWhole(dir + "/record.log");
  const std::vector<std::string> lines = FileLines(dir + "/run.txt");
  ASSERT_EQ(lines.size(), 5u + 5u);
  EXPECT_EQ(lines[4], "Inclinometer\tKV72500-AB - 123456\tKV7280 - 54321");
  const std::vector<Received> received = WaitReceived(10, 10000);
  ExpectFileReachedSubscriber(lines, 2, received);
  EXPECT_EQ(received.front().topic, "nivelix/bridge_4/KV72500-AB-123456");
  EXPECT_EQ(received[1].topic, "nivelix/bridge_4/KV7280-54321");
  EXPECT_EQ(JsonMember(received[1].payload, "unit"), "\"Deg\"");
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
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (FileLines(dir + "/run.txt").size() < 5u + 2u && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(FileLines(dir + "/run.txt").size(), 5u + 2u);
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

// The file deleted during the run: it is not made again behind the user's
// back, every line says so on standard error, and the run ends with the file
// exit code.
TEST_F(RecordRunTest, FileDeletedDuringTheRunEndsWithTheFileCode) {
  AddTwoSensors();
  auto recorder = StartRecorder({"--sensor", "3", "--period", "1s", "--duration", "3s", "--file",
                                 dir + "/gone.txt"});
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (FileLines(dir + "/gone.txt").size() < 4u + 1u && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(::unlink((dir + "/gone.txt").c_str()), 0);
  EXPECT_EQ(recorder->Wait(30000), 6);
  EXPECT_FALSE(std::ifstream(dir + "/gone.txt").good());
  EXPECT_NE(ReadWhole(dir + "/record.log").find("cannot write to " + dir + "/gone.txt"),
            std::string::npos)
      << ReadWhole(dir + "/record.log");
}

}  // namespace
