// Memory of the recorder's message queue while no broker answers: a day of
// samples of two sensors at one second (172,800 messages of the usual size)
// queued, then the resident memory it took, per message; and how long
// Publish keeps the recording thread.
//
//   build/bench/bench_mqtt_queue [messages=172800]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "MqttPublisher.h"

namespace {

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 172800;
  TMqttPublisher publisher;
  TMqttPublisher::Setup setup;
  setup.broker.host = "127.0.0.1";
  setup.broker.port = 1;  // nothing listens there: every message stays queued
  setup.clientId = "bench";
  setup.capacity = static_cast<std::size_t>(count);
  std::string error;
  if (!publisher.Start(setup, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string payload =
      "{\"time\":\"2026-12-09T03:05:10.222+01:00\",\"mrad\":55.688262939453125,"
      "\"value\":3.19,\"unit\":\"Deg\",\"failed\":false}";
  const long before = ResidentKiB();
  double slowestUs = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    publisher.Publish("nivelix/site/KV72500-AB-123456", payload);
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    if (us > slowestUs) slowestUs = us;
  }
  const double totalUs =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  const long after = ResidentKiB();
  std::printf("%ld messages queued (%lu waiting, %lu dropped): %.1f MiB resident, %.0f bytes a "
              "message; Publish %.2f us on average, slowest %.0f us\n",
              count, static_cast<unsigned long>(publisher.Counts().waiting),
              static_cast<unsigned long>(publisher.Counts().dropped), (after - before) / 1024.0,
              (after - before) * 1024.0 / static_cast<double>(count), totalUs / count, slowestUs);
  return 0;
}
