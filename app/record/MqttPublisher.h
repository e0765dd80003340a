// MqttPublisher: hands the recorder's messages to an MQTT broker without ever
// making the recording wait for the network.
//
// Two threads meet here, and only here. The recording thread calls Publish,
// which appends to a bounded queue and wakes the publisher's own network
// thread; that thread makes every libmosquitto call (connect, publish, the
// read/write/keep-alive loop), so no libmosquitto object is shared between
// threads. The queue is the one thing both threads touch, under m_mutex, the
// one mutex of the recorder; the sensor calls stay on the recording thread
// and take no lock.
//
// Delivery: QoS 1, retained, in the order published. A message leaves the
// queue only when the broker has acknowledged it (PUBACK). When the
// connection drops, the messages handed out but not acknowledged are handed
// out again, from the oldest, on a fresh client after reconnecting, so order
// is kept; a message can then reach the broker twice, as QoS 1 allows.
//
// A message that libmosquitto refuses for good (a topic that is not UTF-8, a
// payload too long) is dropped and counted instead of staying at the head of
// the queue, so that it never holds up the others.
//
// Reconnection: every failed attempt waits longer than the one before (1 s
// doubling, with a fifth of jitter either way so that recorders restarted
// together do not stay in step) up to a minute for a broker that answered
// and refused or dropped the connection, up to 8 s while nothing answers at
// all (a broker being restarted is found again soon, and costs nothing to
// look for). A refused login waits the minute at once. The delay goes back
// to 1 s only after a connection accepted by the broker lasted 10 s.
//
// Status: with a status topic, "online" (retained) is published on every
// accepted connection, "offline" (retained) on a clean stop, and "offline"
// is also the connection's last will, which the broker publishes when it
// misses the recorder for one and a half keep-alives.
//
// Bound: when the queue is full the oldest message not yet handed out is
// dropped (and counted), not the new one: the file keeps every sample, and
// someone watching from elsewhere after a long outage wants the latest day,
// ending with the true last value, retained.
#ifndef NIVELIX_MQTTPUBLISHER_H
#define NIVELIX_MQTTPUBLISHER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Journal.h"
#include "MqttMessage.h"
#include "RecordOptions.h"

struct mosquitto;
struct mosquitto_message;

struct MqttPublisherCounts {
  std::size_t waiting = 0;  // in the queue, acknowledgement not yet received
  uint64_t acknowledged = 0;
  uint64_t dropped = 0;     // pushed out of a full queue, never sent
  uint64_t refused = 0;     // refused for good by libmosquitto, dropped
  uint64_t connections = 0; // connection attempts made
  bool connected = false;
  std::string refusal;      // why the broker refused the last connection, if it did
  std::string problem;      // why the last attempt failed, empty while connected
};

class TMqttPublisher {
 public:
  struct Setup {
    MqttTarget broker;
    bool withCredentials = false;
    MqttCredentials credentials;
    std::string caPath;   // mqtts: empty for the system's certificates
    std::string clientId;
    std::size_t capacity = 1;  // messages the queue holds at most
    int keepAliveSeconds = DefaultKeepAliveSeconds;
    std::string statusTopic;   // empty: no status messages, no last will
    // Told from the network thread, once per change: connected, why the
    // broker cannot be used, messages refused. May be empty.
    std::function<void(JournalPriority, const std::string &)> report;
  };

  TMqttPublisher();
  ~TMqttPublisher();  // Stop
  TMqttPublisher(const TMqttPublisher &) = delete;
  TMqttPublisher &operator=(const TMqttPublisher &) = delete;

  // Checks what can be checked before any connection (the TLS files) and
  // starts the network thread, which connects and reconnects on its own.
  // False with the reason in error; nothing is started then.
  bool Start(const Setup &setup, std::string &error);

  // Queues one message for topic; never waits for the network.
  void Publish(const std::string &topic, std::string payload);

  // Waits up to timeoutMs for every queued message to be acknowledged; true
  // when the queue is empty.
  bool Drain(int timeoutMs);

  // Ends the network thread, disconnecting cleanly. Messages still queued are
  // lost (the file has them).
  void Stop();

  MqttPublisherCounts Counts() const;

 private:
  struct Message {
    std::string topic;
    std::string payload;
    int mid = 0;          // message id given by libmosquitto once handed out
    bool handed = false;
    bool acknowledged = false;
  };

  // How an attempt ended, for the delay before the next one.
  enum class FailureKind {
    NotThere,      // nothing answered: no route, nothing listening, name not found
    Answered,      // the broker (or something) answered, then dropped or failed
    LoginRefused,  // the broker refused the connection (CONNACK not 0)
  };
  struct Failure {
    FailureKind kind;
    std::string text;  // the cause, in words for the journal
  };

  void Run();
  bool Connect(Failure &failure);
  void Disconnect();
  // Ends a failed attempt: says it if it is news, then waits the delay.
  void EndAttempt(const Failure &failure, int64_t &retryMs);
  Failure LoopFailure(int rc, int savedErrno) const;
  void HandOut();
  void PublishStatus(const char *status);
  void SayOfflineAndDisconnect();
  void Report(JournalPriority priority, const std::string &text) const;
  void Wake();
  void WaitWake(int timeoutMs);
  static void OnConnect(mosquitto *client, void *self, int rc);
  static void OnPublish(mosquitto *client, void *self, int mid);
  static void OnLog(mosquitto *client, void *self, int level, const char *text);

  Setup m_setup;
  mosquitto *m_client = nullptr;  // network thread only
  // Network thread only:
  bool m_sessionUp = false;       // CONNACK 0 received
  int64_t m_connectStartMs = 0;
  int64_t m_sessionStartMs = 0;   // when CONNACK 0 came
  int m_connackCode = -1;         // the last CONNACK's code, -1 before any
  int m_statusMid = -1;           // the "offline" message of a clean stop
  bool m_statusAcknowledged = false;
  std::string m_lastLogError;     // libmosquitto's last error line (TLS causes)
  std::string m_saidProblem;      // the failure last said, empty after "connected"
  bool m_saidConnected = false;
  bool m_saidRefusedMessage = false;
  uint32_t m_jitterState = 0;
  int m_wakeFd = -1;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};

  // Shared by both threads: everything below, under m_mutex.
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Message> m_queue;
  std::size_t m_handed = 0;  // the first m_handed messages are handed out
  uint64_t m_acknowledged = 0;
  uint64_t m_dropped = 0;
  uint64_t m_refused = 0;
  uint64_t m_connections = 0;
  bool m_connected = false;
  std::string m_refusal;
  std::string m_problem;
};

#endif
