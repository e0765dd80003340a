// TVeille: what the recorder tells systemd when it runs as a Type=notify
// service with a watchdog (nivelix-record@.service).
//
// READY=1 once the first line is in the file; WATCHDOG=1 from the recording
// thread every 5 s (every half of the watchdog's time when that is shorter),
// both while it waits for the next sample and between one sensor call and
// the next, so that no two pings are more than 10 s apart even when a call
// (under a second, a silent sensor's included) is under way at the due time.
// A sample of many silent sensors may take minutes and still pings between
// its calls: only a recorder stuck in one call goes quiet long enough for
// systemd to restart it. Until it is ready the pings
// also extend the start-up timeout, since the first line comes one period
// after the start and a period may be hours.
//
// Outside systemd (no NOTIFY_SOCKET) nothing is sent and Ping costs a clock
// read. Not thread-safe: one recording thread calls it.
#ifndef NIVELIX_VEILLE_H
#define NIVELIX_VEILLE_H

#include <cstdint>

class TVeille {
 public:
  // The time between two pings when the watchdog's time is 10 s or more.
  static constexpr int64_t PingEveryMs = 5000;

  // Reads NOTIFY_SOCKET and WATCHDOG_USEC (sd_watchdog_enabled) once.
  TVeille();

  // READY=1, sent once; later calls do nothing.
  void Ready();
  // A ping when the last one is IntervalMs() old or older, else nothing.
  void Ping();
  // How long a wait of waitMs may last before Ping must be called again
  // (waitMs itself when nothing listens).
  int64_t WaitAtMost(int64_t waitMs) const;

  // The time between pings in ms; 0 when nothing listens.
  int64_t IntervalMs() const { return m_intervalMs; }

 private:
  void Send(int64_t nowMs);

  int64_t m_intervalMs = 0;
  uint64_t m_watchdogUsec = 0;  // 0: no watchdog, the pings only extend the start
  int64_t m_lastMs = 0;
  bool m_ready = false;
};

#endif
