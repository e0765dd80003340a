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
constexpr int64_t FirstRetryMs = 1000;
// A broker that answered and refused or dropped the connection is not
// tried more than about once a minute: it stays that way until someone
// mends it, and every attempt costs it a log line or more.
constexpr int64_t LongestRetryMs = 60000;
// While nothing answers at all, the broker is down or out of reach; it is
// looked for more often so that it is found soon after it is back.
constexpr int64_t LongestAbsentRetryMs = 8000;
// A connection accepted and kept this long is a working one: only then does
// the next failure start again from the first delay.
constexpr int64_t StableSessionMs = 10000;
constexpr int PollMs = 1000;
// A connection that has not been accepted by then (a broker behind a firewall
// that drops the packets) is given up and tried again.
constexpr int ConnectTimeoutMs = 15000;
// How long a clean stop waits for the broker to take the "offline" status.
constexpr int OfflineWaitMs = 2000;
constexpr const char *Online = "online";
constexpr const char *Offline = "offline";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void InitialiseLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// Whether mosquitto_publish refused the message itself, for good: it would
// refuse it again on any connection.
bool RefusedForGood(int rc) {
  switch (rc) {
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_MALFORMED_UTF8:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_OVERSIZE_PACKET:
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
    case MOSQ_ERR_NOT_SUPPORTED: return true;
    default: return false;
  }
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
  counts.refused = m_refused;
  counts.connections = m_connections;
  counts.connected = m_connected;
  counts.refusal = m_refusal;
  counts.problem = m_problem;
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
  m_jitterState = static_cast<uint32_t>(NowMs()) ^ static_cast<uint32_t>(::getpid() << 16);
  int64_t retryMs = FirstRetryMs;
  while (!m_stop) {
    if (m_client == nullptr) {
      Failure failure;
      if (!Connect(failure)) {
        EndAttempt(failure, retryMs);
        continue;
      }
    }
    HandOut();
    pollfd fds[2] = {{mosquitto_socket(m_client), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    if (mosquitto_want_write(m_client)) fds[0].events |= POLLOUT;
    if (::poll(fds, 2, PollMs) < 0 && errno != EINTR) {
      EndAttempt({FailureKind::Answered, std::string("poll: ") + std::strerror(errno)}, retryMs);
      continue;
    }
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    errno = 0;
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m_client))
      rc = mosquitto_loop_write(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(m_client);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
      EndAttempt(LoopFailure(rc, savedErrno), retryMs);
    } else if (!m_sessionUp && m_connackCode > 0) {
      // Refused, on a connection the broker has not closed yet.
      EndAttempt(LoopFailure(MOSQ_ERR_CONN_REFUSED, 0), retryMs);
    } else if (!m_sessionUp && NowMs() - m_connectStartMs > ConnectTimeoutMs) {
      EndAttempt({FailureKind::NotThere, "no answer from " + m_setup.broker.host + ":" +
                                             std::to_string(m_setup.broker.port) + " within " +
                                             std::to_string(ConnectTimeoutMs / 1000) + " s"},
                 retryMs);
    }
  }
  if (m_client != nullptr) SayOfflineAndDisconnect();
}

TMqttPublisher::Failure TMqttPublisher::LoopFailure(int rc, int savedErrno) const {
  const std::string where = m_setup.broker.host + ":" + std::to_string(m_setup.broker.port);
  if (m_connackCode > 0)
    return {FailureKind::LoginRefused,
            "the broker " + where + " refuses the connection: " +
                mosquitto_connack_string(m_connackCode)};
  if (rc == MOSQ_ERR_TLS)
    return {FailureKind::Answered,
            "TLS failure with " + where +
                (m_lastLogError.empty() ? std::string() : ": " + m_lastLogError)};
  if (rc == MOSQ_ERR_ERRNO) {
    const bool absent = savedErrno == ECONNREFUSED || savedErrno == EHOSTUNREACH ||
                        savedErrno == ENETUNREACH || savedErrno == ETIMEDOUT;
    const std::string cause = savedErrno == ECONNREFUSED
                                  ? "connection refused (no broker listens there)"
                                  : std::string(std::strerror(savedErrno));
    return {absent ? FailureKind::NotThere : FailureKind::Answered,
            "cannot reach the broker " + where + ": " + cause};
  }
  if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN)
    return {FailureKind::Answered,
            m_sessionUp ? "the connection to the broker " + where + " was lost"
                        : "the broker " + where + " closed the connection before accepting it"};
  return {FailureKind::Answered,
          "the connection to the broker " + where + " failed: " + mosquitto_strerror(rc)};
}

void TMqttPublisher::EndAttempt(const Failure &failure, int64_t &retryMs) {
  const bool wasStable = m_sessionUp && NowMs() - m_sessionStartMs >= StableSessionMs;
  Disconnect();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_problem = failure.text;
    if (failure.kind == FailureKind::LoginRefused) m_refusal = mosquitto_connack_string(m_connackCode);
  }
  if (wasStable) retryMs = FirstRetryMs;
  int64_t waitMs = LongestRetryMs;
  if (failure.kind == FailureKind::LoginRefused) {
    retryMs = LongestRetryMs;
  } else {
    const int64_t cap =
        failure.kind == FailureKind::NotThere ? LongestAbsentRetryMs : LongestRetryMs;
    waitMs = std::min(retryMs, cap);
    retryMs = std::min(retryMs * 2, cap);
  }
  // Said once per change: the same failure again is the same news.
  if (failure.text != m_saidProblem) {
    const bool login = failure.kind == FailureKind::LoginRefused;
    Report(login ? JournalPriority::Error : JournalPriority::Warning,
           failure.text + (login ? "; tried again every minute, the recording goes on"
                                 : "; messages wait, the recording goes on"));
    m_saidProblem = failure.text;
    m_saidConnected = false;
  }
  // A fifth either way, from a generator of the thread's own.
  m_jitterState = m_jitterState * 1664525u + 1013904223u;
  const double spread = 0.8 + 0.4 * (m_jitterState >> 8) / static_cast<double>(1u << 24);
  const int64_t until = NowMs() + static_cast<int64_t>(static_cast<double>(waitMs) * spread);
  // Publish wakes this thread too; the retry keeps its own pace.
  while (!m_stop && NowMs() < until) WaitWake(static_cast<int>(until - NowMs()) + 1);
}

bool TMqttPublisher::Connect(Failure &failure) {
  // A fresh client for every connection: nothing of an old session (its
  // unacknowledged messages) can be sent behind the queue's back, out of order.
  m_connackCode = -1;
  m_lastLogError.clear();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_connections;
  }
  const std::string where = m_setup.broker.host + ":" + std::to_string(m_setup.broker.port);
  m_client = mosquitto_new(m_setup.clientId.c_str(), true, this);
  if (m_client == nullptr) {
    failure = {FailureKind::Answered, std::string("cannot make an MQTT client: ") + std::strerror(errno)};
    return false;
  }
  mosquitto_connect_callback_set(m_client, &TMqttPublisher::OnConnect);
  mosquitto_publish_callback_set(m_client, &TMqttPublisher::OnPublish);
  mosquitto_log_callback_set(m_client, &TMqttPublisher::OnLog);
  if (m_setup.withCredentials)
    mosquitto_username_pw_set(m_client, m_setup.credentials.user.c_str(),
                              m_setup.credentials.password.c_str());
  if (!m_setup.statusTopic.empty())
    mosquitto_will_set(m_client, m_setup.statusTopic.c_str(), static_cast<int>(std::strlen(Offline)),
                       Offline, 1, true);
  if (m_setup.broker.tls) {
    const bool ownCa = !m_setup.caPath.empty();
    // Never a plain connection where TLS was asked for.
    if (mosquitto_tls_set(m_client, ownCa ? m_setup.caPath.c_str() : nullptr,
                          ownCa ? nullptr : "/etc/ssl/certs", nullptr, nullptr,
                          nullptr) != MOSQ_ERR_SUCCESS) {
      failure = {FailureKind::Answered, "TLS cannot be set up for " + where};
      return false;
    }
  }
  // Without waiting for the broker: the connection completes in the loop, so
  // that Stop is never held up by a broker that does not answer.
  m_connectStartMs = NowMs();
  errno = 0;
  const int rc = mosquitto_connect_async(m_client, m_setup.broker.host.c_str(), m_setup.broker.port,
                                         m_setup.keepAliveSeconds);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  if (rc == MOSQ_ERR_EAI)
    failure = {FailureKind::NotThere, "the broker's name " + m_setup.broker.host + " is not found"};
  else
    failure = LoopFailure(rc, errno);
  return false;
}

void TMqttPublisher::PublishStatus(const char *status) {
  if (m_setup.statusTopic.empty()) return;
  int mid = 0;
  if (mosquitto_publish(m_client, &mid, m_setup.statusTopic.c_str(),
                        static_cast<int>(std::strlen(status)), status, 1, true) == MOSQ_ERR_SUCCESS &&
      status == Offline)
    m_statusMid = mid;
}

void TMqttPublisher::SayOfflineAndDisconnect() {
  // A clean stop: "offline" first, acknowledged, then a disconnection the
  // broker takes as clean (it drops the last will).
  if (m_sessionUp && !m_setup.statusTopic.empty()) {
    m_statusAcknowledged = false;
    PublishStatus(Offline);
    const int64_t until = NowMs() + OfflineWaitMs;
    while (!m_statusAcknowledged && NowMs() < until &&
           mosquitto_loop(m_client, 100, 1) == MOSQ_ERR_SUCCESS) {
    }
  }
  mosquitto_disconnect(m_client);
  mosquitto_loop_write(m_client, 1);
  Disconnect();
}

void TMqttPublisher::Report(JournalPriority priority, const std::string &text) const {
  if (m_setup.report) m_setup.report(priority, text);
}

void TMqttPublisher::Disconnect() {
  if (m_client != nullptr) mosquitto_destroy(m_client);
  m_client = nullptr;
  m_sessionUp = false;
  m_statusMid = -1;
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
  std::string refusedTopic;
  int refusedCode = MOSQ_ERR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_handed < m_queue.size() && m_handed < HandOutWindow) {
      Message &message = m_queue[m_handed];
      int mid = 0;
      const int rc = mosquitto_publish(m_client, &mid, message.topic.c_str(),
                                       static_cast<int>(message.payload.size()),
                                       message.payload.data(), 1, true);
      if (RefusedForGood(rc)) {
        // Never sent, on this connection or any other: dropped, so that the
        // messages behind it go.
        if (refusedTopic.empty()) refusedTopic = message.topic, refusedCode = rc;
        m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed));
        ++m_refused;
        continue;
      }
      if (rc != MOSQ_ERR_SUCCESS) break;  // the loop sees the broken connection
      message.mid = mid;
      message.handed = true;
      ++m_handed;
    }
  }
  if (refusedCode == MOSQ_ERR_SUCCESS) return;
  m_changed.notify_all();
  if (!m_saidRefusedMessage)
    Report(JournalPriority::Warning,
           "a message for topic " + refusedTopic + " cannot be sent (" +
               mosquitto_strerror(refusedCode) +
               "): dropped; the file has it, the other messages go on (further ones are counted)");
  m_saidRefusedMessage = true;
}

void TMqttPublisher::OnConnect(mosquitto *, void *self, int rc) {
  auto *publisher = static_cast<TMqttPublisher *>(self);
  publisher->m_sessionUp = rc == 0;
  publisher->m_connackCode = rc;
  if (rc == 0) {
    publisher->m_sessionStartMs = NowMs();
    // Before any sample, so that a watcher knows the values that follow are live.
    publisher->PublishStatus(Online);
    if (!publisher->m_saidConnected)
      publisher->Report(JournalPriority::Info,
                        "connected to the broker " + publisher->m_setup.broker.host + ":" +
                            std::to_string(publisher->m_setup.broker.port));
    publisher->m_saidConnected = true;
    publisher->m_saidProblem.clear();
  }
  std::lock_guard<std::mutex> lock(publisher->m_mutex);
  publisher->m_connected = rc == 0;
  publisher->m_refusal = rc == 0 ? std::string() : mosquitto_connack_string(rc);
  if (rc == 0) publisher->m_problem.clear();
}

void TMqttPublisher::OnLog(mosquitto *, void *self, int level, const char *text) {
  if (level == MOSQ_LOG_ERR && text != nullptr)
    static_cast<TMqttPublisher *>(self)->m_lastLogError = text;
}

void TMqttPublisher::OnPublish(mosquitto *, void *self, int mid) {
  auto *publisher = static_cast<TMqttPublisher *>(self);
  if (mid == publisher->m_statusMid) publisher->m_statusAcknowledged = true;
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
