// Angle sources of the simulated sensors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "HostSide.h"
#include "SimFixture.h"
#include "UtilCapt.h"

using V = std::vector<uint8_t>;

namespace {
double Measure(HostSide &host) {
  const V m = host.Exchange(0x05, {0x05, 0x92, 0x00, 0x00, 0x00}, 14);
  if (m.size() != 14) return 1e9;
  return std::atof(std::string(m.begin() + 5, m.begin() + 13).c_str());
}
}  // namespace

class Angles : public SimFixture {};

TEST_F(Angles, SineAndRandomWalkMove) {
  nivsim::SensorAConfig c;
  c.identifier = 5;
  c.angle = nivsim::AngleSource::sine(100.0, 50.0, 0.2);
  bus->AddSensorA(c);
  HostSide host(bus->SlavePath());
  std::set<double> seen;
  for (int i = 0; i < 6; ++i) {
    const double a = Measure(host);
    EXPECT_GE(a, 50.0 - 1e-3);
    EXPECT_LE(a, 150.0 + 1e-3);
    seen.insert(a);
  }
  EXPECT_GT(seen.size(), 3u);

  bus->SetAngle(0, nivsim::AngleSource::randomWalk(10.0, 0.5));
  double previous = Measure(host);
  EXPECT_DOUBLE_EQ(previous, 10.0);
  for (int i = 0; i < 5; ++i) {
    const double a = Measure(host);
    EXPECT_NEAR(std::abs(a - previous), 0.5, 1e-6);
    previous = a;
  }
}
