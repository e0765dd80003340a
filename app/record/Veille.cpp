#include "Veille.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TVeille::TVeille() {
  const char *socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return;
  uint64_t usec = 0;
  // Also false when WATCHDOG_PID names another process than this one.
  if (sd_watchdog_enabled(0, &usec) > 0) m_watchdogUsec = usec;
  m_intervalMs = m_watchdogUsec > 0
                     ? std::clamp<int64_t>(static_cast<int64_t>(m_watchdogUsec / 2000), 1, PingEveryMs)
                     : PingEveryMs;
  m_lastMs = NowMs();
}

void TVeille::Ready() {
  if (m_ready || m_intervalMs == 0) return;
  m_ready = true;
  sd_notify(0, m_watchdogUsec > 0 ? "READY=1\nWATCHDOG=1" : "READY=1");
  m_lastMs = NowMs();
}

void TVeille::Ping() {
  if (m_intervalMs == 0) return;
  const int64_t now = NowMs();
  if (now - m_lastMs >= m_intervalMs) Send(now);
}

int64_t TVeille::WaitAtMost(int64_t waitMs) const {
  if (m_intervalMs == 0) return waitMs;
  return std::max<int64_t>(0, std::min(waitMs, m_lastMs + m_intervalMs - NowMs()));
}

void TVeille::Send(int64_t nowMs) {
  m_lastMs = nowMs;
  if (m_ready) {
    if (m_watchdogUsec > 0) sd_notify(0, "WATCHDOG=1");
    return;
  }
  // Starting: finding the sensors and waiting a period for the first line.
  // Each ping gives the start as long again as the watchdog would, so that a
  // start stuck in one call fails as a stuck run would.
  const unsigned long long extendUsec =
      m_watchdogUsec > 0 ? m_watchdogUsec : static_cast<unsigned long long>(3 * PingEveryMs * 1000);
  sd_notifyf(0, "%sEXTEND_TIMEOUT_USEC=%llu", m_watchdogUsec > 0 ? "WATCHDOG=1\n" : "", extendUsec);
}
