// PtyPeer: the far end of a serial line, for tests of the serial layer.
//
// Owns a pseudo-terminal: the port under test opens SlavePath(), the peer
// reads and writes the master side. The peer keeps one slave descriptor of its
// own open so that the port closing its descriptor does not hang up the
// master (a real serial line does not vanish when the PC closes its port).
//
// Bytes can be sent at once or on a schedule from a thread, which records when
// each byte actually left, so timings can be checked against real send times.
// Header-only, no test framework needed: the benchmarks use it too.
#ifndef NIVELIX_TESTS_PTYPEER_H
#define NIVELIX_TESTS_PTYPEER_H

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace ptytest {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, as the port's deadlines

// One scheduled send: `bytes` leave `at` after the schedule's start.
struct Step {
  Clock::duration at;
  std::string bytes;
};

// When a scheduled send actually happened: the bytes reached the port's side
// between `begin` (just before the write) and `end` (just after it).
struct SendRecord {
  Clock::time_point begin;
  Clock::time_point end;
};

class PtyPeer {
 public:
  PtyPeer() {
    char name[256] = {};
    int master = -1;
    if (::openpty(&master, &slave_, name, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    master_ = master;
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
    // Raw at once: bytes written before the port sets its line must not be
    // echoed back or translated by the default cooked mode.
    termios tio;
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave_, TCSANOW, &tio);
  }

  ~PtyPeer() {
    CancelSchedule();
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }

  PtyPeer(const PtyPeer &) = delete;
  PtyPeer &operator=(const PtyPeer &) = delete;

  const std::string &SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }
  // The peer's own descriptor of the port's side, to inspect its settings.
  int SlaveFd() const { return slave_; }

  // Writes the bytes now; returns when the kernel has taken them.
  Clock::time_point Send(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw std::runtime_error("PtyPeer: write to master failed");
      done += static_cast<size_t>(n);
    }
    return Clock::now();
  }

  // Sends each step at start + step.at from a thread. Send times are
  // available from SendTimes() after WaitSchedule() or CancelSchedule().
  void Schedule(std::vector<Step> steps, Clock::time_point start = Clock::now()) {
    CancelSchedule();
    cancelled_ = false;
    sendTimes_.clear();
    sender_ = std::thread([this, steps = std::move(steps), start] {
      for (const Step &step : steps) {
        {
          std::unique_lock<std::mutex> lock(mutex_);
          if (wake_.wait_until(lock, start + step.at, [this] { return cancelled_; })) return;
        }
        if (step.bytes.empty()) continue;
        Clock::time_point begin = Clock::now();
        Clock::time_point end = Send(step.bytes);
        std::lock_guard<std::mutex> lock(mutex_);
        sendTimes_.push_back({begin, end});
      }
    });
  }

  // Closes the master after a delay, from a thread: the line vanishes while
  // the port is busy.
  void ScheduleHangup(Clock::duration after) {
    CancelSchedule();
    cancelled_ = false;
    sender_ = std::thread([this, after] {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, after, [this] { return cancelled_; })) return;
      }
      CloseMaster();
    });
  }

  void WaitSchedule() {
    if (sender_.joinable()) sender_.join();
  }

  void CancelSchedule() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    wake_.notify_all();
    WaitSchedule();
  }

  // When each scheduled step with bytes left the peer.
  std::vector<SendRecord> SendTimes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sendTimes_;
  }

  // Reads what the port wrote: returns once `quiet` passes without a byte or
  // `limit` in all.
  std::string Receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(50),
                      std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
    std::string got;
    const Clock::time_point end = Clock::now() + limit;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) break;
      pollfd pfd{master_, POLLIN, 0};
      int ready = ::poll(&pfd, 1, static_cast<int>(std::min(left, quiet).count()));
      if (ready <= 0 || !(pfd.revents & POLLIN)) break;
      char chunk[4096];
      ssize_t n = ::read(master_, chunk, sizeof chunk);
      if (n <= 0) break;
      got.append(chunk, static_cast<size_t>(n));
    }
    return got;
  }

  // The line vanishes: the kernel hangs up every slave descriptor, the
  // port's included, as when a USB adapter is pulled out.
  void CloseMaster() {
    int fd = master_.exchange(-1);
    if (fd >= 0) ::close(fd);
  }

 private:
  std::atomic<int> master_{-1};
  int slave_ = -1;
  std::string slavePath_;
  std::thread sender_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool cancelled_ = false;
  std::vector<SendRecord> sendTimes_;
};

}  // namespace ptytest

#endif
