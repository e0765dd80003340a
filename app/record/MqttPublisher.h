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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MqttMessage.h"
#include "RecordOptions.h"

struct mosquitto;
struct mosquitto_message;

struct MqttPublisherCounts {
  std::size_t waiting = 0;  // in the queue, acknowledgement not yet received
  uint64_t acknowledged = 0;
  uint64_t dropped = 0;     // pushed out of a full queue, never sent
  bool connected = false;
  std::string refusal;      // why the broker refused the last connection, if it did
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

  void Run();
  bool Connect();
  void Disconnect();
  void HandOut();
  void Wake();
  void WaitWake(int timeoutMs);
  static void OnConnect(mosquitto *client, void *self, int rc);
  static void OnPublish(mosquitto *client, void *self, int mid);

  Setup m_setup;
  mosquitto *m_client = nullptr;  // network thread only
  bool m_sessionUp = false;       // network thread only: CONNACK received
  int64_t m_connectStartMs = 0;   // network thread only
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
  bool m_connected = false;
  std::string m_refusal;
};

#endif
