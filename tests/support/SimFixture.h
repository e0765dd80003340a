// SimFixture: a test that talks to a simulated sensor bus.
//
// SetUp creates a fresh SimBus and points COM `comNumber` at its slave side
// (NIVELIX_COM<n> in this process's environment); a test adds its sensors with
// bus->AddSensorA / AddSensorB. Set comNumber in the derived fixture's
// constructor to use another port number.
//
// On a loaded machine a test thread may be kept off the processor for longer
// than the line's timeouts (an acknowledged sensor waits 100 ms for its
// request). SimFixture::PreferRealTime() asks a real-time priority for the
// calling thread, below the simulator's own; it is a no-op where not allowed.
#ifndef NIVELIX_SIMFIXTURE_H
#define NIVELIX_SIMFIXTURE_H

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <memory>

#include "SimBus.h"

class SimFixture : public ::testing::Test {
 public:
  static void PreferRealTime() {
    sched_param param{};
    param.sched_priority = 5;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  }

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
