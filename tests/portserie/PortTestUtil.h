// Helpers shared by the serial layer tests.
#ifndef NIVELIX_TESTS_PORTTESTUTIL_H
#define NIVELIX_TESTS_PORTTESTUTIL_H

#include <chrono>
#include <functional>
#include <string>

#include "PortSerie.h"
#include "PtyPeer.h"

namespace porttest {

using ptytest::Clock;
using std::chrono::milliseconds;

// The timeouts the link library gives its port.
inline TDelaisSerie LinkTimeouts() {
  TDelaisSerie t;
  t.ReadInterval = 40;
  t.ReadTotalMultiplier = 2;
  t.ReadTotalConstant = 20;
  t.WriteTotalMultiplier = 2;
  t.WriteTotalConstant = 5;
  return t;
}

// Opens `port` on the peer's line with the link library's timeouts.
inline void OpenOn(TPortSerie &port, const ptytest::PtyPeer &peer) {
  port.SetTimeouts(LinkTimeouts());
  port.SetPort(peer.SlavePath());
  port.SetConnected(true);
}

inline double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Runs `action`, which must raise EPortSerie; returns it (code 0 if nothing was raised).
inline EPortSerie Raised(const std::function<void()> &action) {
  try {
    action();
  } catch (const EPortSerie &e) {
    return e;
  }
  return EPortSerie(0);
}

}  // namespace porttest

#endif
