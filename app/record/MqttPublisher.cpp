#include "MqttPublisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

namespace {

// Messages handed to libmosquitto before their acknowledgements: the broker's
// usual in-flight limit, so libmosquitto never has to hold more itself.
constexpr std::size_t HandOutWindow = 20;
constexpr int KeepAliveSeconds = 30;
constexpr int FirstRetryMs = 500;
// A broker back after a restart is found within this, so a long outage costs
// at most a few seconds of extra delay.
constexpr int LongestRetryMs = 4000;
constexpr int PollMs = 1000;
// A connection that has not been accepted by then (a broker behind a firewall
// that drops the packets) is given up and tried again.
constexpr int ConnectTimeoutMs = 15000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void InitialiseLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

TMqttPublisher::TMqttPublisher() = default;

TMqttPublisher::~TMqttPublisher() { Stop(); }

bool TMqttPublisher::Start(const Setup &setup, std::string &error) {
  if (setup.broker.tls && !setup.caPath.empty() && !std::ifstream(setup.caPath)) {
    error = "cannot read certificate file " + setup.caPath + ": " + std::strerror(errno);
    return false;
  }
  InitialiseLibrary();
  m_setup = setup;
  m_setup.capacity = std::max<std::size_t>(setup.capacity, 1);
  m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_wakeFd < 0) {
    error = std::string("cannot create the publisher's wake-up: ") + std::strerror(errno);
    return false;
  }
  m_stop = false;
  m_thread = std::thread([this] { Run(); });
  return true;
}

void TMqttPublisher::Publish(const std::string &topic, std::string payload) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.size() >= m_setup.capacity) {
      ++m_dropped;
      // The oldest message not yet handed out makes room; when every queued
      // message is out already (a queue no larger than the window), the new
      // one cannot be queued.
      if (m_handed >= m_queue.size()) return;
      m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed));
    }
    Message message;
    message.topic = topic;
    message.payload = std::move(payload);
    m_queue.push_back(std::move(message));
  }
  Wake();
}

bool TMqttPublisher::Drain(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return m_queue.empty(); });
}

void TMqttPublisher::Stop() {
  if (!m_thread.joinable()) return;
  m_stop = true;
  Wake();
  m_thread.join();
  ::close(m_wakeFd);
  m_wakeFd = -1;
}

MqttPublisherCounts TMqttPublisher::Counts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  MqttPublisherCounts counts;
  counts.waiting = m_queue.size();
  counts.acknowledged = m_acknowledged;
  counts.dropped = m_dropped;
  counts.connected = m_connected;
  counts.refusal = m_refusal;
  return counts;
}

void TMqttPublisher::Wake() {
  if (m_wakeFd < 0) return;
  const uint64_t one = 1;
  // A full counter already means "wake up": a failed write loses nothing.
  [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void TMqttPublisher::WaitWake(int timeoutMs) {
  pollfd fd{m_wakeFd, POLLIN, 0};
  if (::poll(&fd, 1, timeoutMs) > 0) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
  }
}

// ---- The network thread --------------------------------------------------------

void TMqttPublisher::Run() {
  int retryMs = FirstRetryMs;
  while (!m_stop) {
    if (m_client == nullptr) {
      if (!Connect()) {
        // Publish wakes this thread too; the retry keeps its own pace.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(retryMs);
        while (!m_stop && std::chrono::steady_clock::now() < until)
          WaitWake(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        until - std::chrono::steady_clock::now())
                                        .count()) +
                   1);
        retryMs = std::min(retryMs * 2, LongestRetryMs);
        continue;
      }
      retryMs = FirstRetryMs;
    }
    HandOut();
    pollfd fds[2] = {{mosquitto_socket(m_client), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (mosquitto_want_write(m_client)) fds[0].events |= POLLOUT;
    if (::poll(fds, 2, PollMs) < 0 && errno != EINTR) {
      Disconnect();
      continue;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m_client))
      rc = mosquitto_loop_write(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(m_client);
    if (rc != MOSQ_ERR_SUCCESS || (!m_sessionUp && NowMs() - m_connectStartMs > ConnectTimeoutMs))
      Disconnect();
  }
  if (m_client != nullptr) {
    mosquitto_disconnect(m_client);
    Disconnect();
  }
}

bool TMqttPublisher::Connect() {
  // A fresh client for every connection: nothing of an old session (its
  // unacknowledged messages) can be sent behind the queue's back, out of order.
  m_client = mosquitto_new(m_setup.clientId.c_str(), true, this);
  if (m_client == nullptr) return false;
  mosquitto_connect_callback_set(m_client, &TMqttPublisher::OnConnect);
  mosquitto_publish_callback_set(m_client, &TMqttPublisher::OnPublish);
  if (m_setup.withCredentials)
    mosquitto_username_pw_set(m_client, m_setup.credentials.user.c_str(),
                              m_setup.credentials.password.c_str());
  if (m_setup.broker.tls) {
    const bool ownCa = !m_setup.caPath.empty();
    // Never a plain connection where TLS was asked for.
    if (mosquitto_tls_set(m_client, ownCa ? m_setup.caPath.c_str() : nullptr,
                          ownCa ? nullptr : "/etc/ssl/certs", nullptr, nullptr,
                          nullptr) != MOSQ_ERR_SUCCESS) {
      Disconnect();
      return false;
    }
  }
  // Without waiting for the broker: the connection completes in the loop, so
  // that Stop is never held up by a broker that does not answer.
  m_connectStartMs = NowMs();
  if (mosquitto_connect_async(m_client, m_setup.broker.host.c_str(), m_setup.broker.port,
                              KeepAliveSeconds) != MOSQ_ERR_SUCCESS) {
    Disconnect();
    return false;
  }
  return true;
}

void TMqttPublisher::Disconnect() {
  if (m_client != nullptr) mosquitto_destroy(m_client);
  m_client = nullptr;
  m_sessionUp = false;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (std::size_t i = 0; i < m_handed; ++i) m_queue[i].handed = m_queue[i].acknowledged = false;
  m_handed = 0;
  m_connected = false;
}

void TMqttPublisher::HandOut() {
  if (!m_sessionUp) return;
  // The lock is held across mosquitto_publish so that the acknowledgement of a
  // message cannot be looked for before its id is stored; the call only
  // queues the packet on a non-blocking socket, so Publish waits microseconds.
  std::lock_guard<std::mutex> lock(m_mutex);
  while (m_handed < m_queue.size() && m_handed < HandOutWindow) {
    Message &message = m_queue[m_handed];
    int mid = 0;
    const int rc = mosquitto_publish(m_client, &mid, message.topic.c_str(),
                                     static_cast<int>(message.payload.size()),
                                     message.payload.data(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) return;  // the loop sees the broken connection
    message.mid = mid;
    message.handed = true;
    ++m_handed;
  }
}

void TMqttPublisher::OnConnect(mosquitto *, void *self, int rc) {
  auto *publisher = static_cast<TMqttPublisher *>(self);
  publisher->m_sessionUp = rc == 0;
  std::lock_guard<std::mutex> lock(publisher->m_mutex);
  publisher->m_connected = rc == 0;
  publisher->m_refusal = rc == 0 ? std::string() : mosquitto_connack_string(rc);
}

void TMqttPublisher::OnPublish(mosquitto *, void *self, int mid) {
  auto *publisher = static_cast<TMqttPublisher *>(self);
  {
    std::lock_guard<std::mutex> lock(publisher->m_mutex);
    auto &queue = publisher->m_queue;
    for (std::size_t i = 0; i < publisher->m_handed; ++i) {
      if (queue[i].mid == mid) {
        queue[i].acknowledged = true;
        break;
      }
    }
    while (!queue.empty() && queue.front().acknowledged) {
      queue.pop_front();
      --publisher->m_handed;
      ++publisher->m_acknowledged;
    }
  }
  publisher->m_changed.notify_all();
}
