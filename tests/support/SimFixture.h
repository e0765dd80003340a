// SimFixture: a test that talks to a simulated sensor bus.
//
// SetUp creates a fresh SimBus and points COM `comNumber` at its slave side
// (NIVELIX_COM<n> in this process's environment); a test adds its sensors with
// bus->AddSensorA / AddSensorB. Set comNumber in the derived fixture's
// constructor to use another port number.
#ifndef NIVELIX_SIMFIXTURE_H
#define NIVELIX_SIMFIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "SimBus.h"

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    bus = std::make_unique<nivsim::SimBus>();
    bus->PointCom(comNumber);
  }

  void TearDown() override { bus.reset(); }

  int comNumber = 5;
  std::unique_ptr<nivsim::SimBus> bus;
};

#endif
