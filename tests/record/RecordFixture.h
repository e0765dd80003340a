// RecordFixture: nivelix-record as a user runs it. A simulated bus in this
// process (NIVELIX_COM5 points at it, and the recorder inherits that), a real
// mosquitto broker on 127.0.0.1 and a free port with its persistence in a
// scratch folder, a subscriber on nivelix/# that keeps every live message, and
// the recorder started as its own process.
#ifndef NIVELIX_TESTS_RECORDFIXTURE_H
#define NIVELIX_TESTS_RECORDFIXTURE_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QDateTime>
#include <QTemporaryDir>

#include "FichierAcquisition.h"
#include "SimFixture.h"
#include "globales.h"

extern char **environ;

// A started program, its standard output and error in one file; killed if
// still running when destroyed.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string> &args, const std::string &errorPath) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, errorPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (m_pid > 0 && !m_ended) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  void Signal(int signal) const { ::kill(m_pid, signal); }
  // The exit code, or -1 when it has not ended within timeoutMs (or was killed).
  int Wait(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_ended) {
      int status = 0;
      m_ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
      m_code = m_ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      if (!m_ended && std::chrono::steady_clock::now() > until) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(m_ended ? 0 : 20));
    }
    return m_code;
  }

 private:
  pid_t m_pid = -1;
  bool m_ended = false;
  int m_code = -1;
};

inline std::string ReadWhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The lines of a file, split at CRLF; a last line without its end is kept
// with a trailing "<cut>".
inline std::vector<std::string> CrlfLines(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(text.substr(from, at - from));
  if (from < text.size()) lines.push_back(text.substr(from) + "<cut>");
  return lines;
}

inline std::vector<std::string> Fields(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  for (std::string f; std::getline(s, f, '\t');) fields.push_back(f);
  if (!line.empty() && line.back() == '\t') fields.push_back("");
  return fields;
}

// The text of a JSON member of a flat object as written ("value" -> 3.180).
inline std::string JsonMember(const std::string &json, const std::string &name) {
  const std::size_t at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return "<none>";
  std::size_t from = at + name.size() + 3;
  std::size_t to = json[from] == '"' ? json.find('"', from + 1) + 1 : json.find_first_of(",}", from);
  return json.substr(from, to - from);
}

// Names a table's rows by their name field.
inline const auto ByName = [](const auto &info) { return std::string(info.param.name); };

struct Received {
  std::string topic;
  std::string payload;
};

class RecordFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_TRUE(m_dir.isValid());
    dir = m_dir.path().toStdString();
    port = Loopback(0, false);
    std::ofstream(dir + "/broker.conf")
        << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence true\n"
        << "persistence_location " << dir << "/\nmax_queued_messages 0\n"
        // As root, mosquitto would become its own user, who may not read the
        // scratch folder: its persistence and password files are there.
        << (::geteuid() == 0 ? "user root\n" : "");
    StartBroker();
    WriteSettings(LinkRs485);
    mosquitto_lib_init();
  }

  void TearDown() override {
    if (m_subscriber) {
      mosquitto_disconnect(m_subscriber);
      mosquitto_loop_stop(m_subscriber, true);
      mosquitto_destroy(m_subscriber);
    }
    m_broker.reset();
    SimFixture::TearDown();
  }

  // Binds (port 0: a free one) or connects a TCP socket on 127.0.0.1; the
  // port bound, or whether the connection was accepted.
  static int Loopback(int port, bool connect) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int result = 0;
    if (connect)
      result = ::connect(s, reinterpret_cast<sockaddr *>(&a), n) == 0;
    else if (::bind(s, reinterpret_cast<sockaddr *>(&a), n) == 0 &&
             ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n) == 0)
      result = ntohs(a.sin_port);
    ::close(s);
    return result;
  }

  void StartBroker() {
    m_broker = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/mosquitto", "-c", dir + "/broker.conf"},
        dir + "/broker.log");
    // Ready once it accepts a connection.
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
      if (Loopback(port, true)) return;
    FAIL() << "the broker did not start: " << ReadWhole(dir + "/broker.log");
  }

  void StopBroker() {
    m_broker->Signal(SIGTERM);
    EXPECT_EQ(m_broker->Wait(10000), 0);
  }

  // RS485 or RS232 on COM5, unit Deg, dates year/month/day.
  void WriteSettings(uint8_t link) {
    SettingsRecord record = DefaultSettings();
    record.PortNumber = comNumber;
    record.LinkType = link;
    record.AngleUnit = 1;
    record.DateFormat = DateYearMonthDay;
    std::ofstream(dir + "/ruzazazo.cfg", std::ios::binary)
        .write(reinterpret_cast<const char *>(&record), sizeof record);
  }

  // A subscriber with a session the broker keeps across its own restart, so
  // that what is published while it reconnects still reaches it.
  void Subscribe() {
    m_subscriber = mosquitto_new("nivelix-test-subscriber", false, this);
    mosquitto_reconnect_delay_set(m_subscriber, 1, 1, false);
    mosquitto_connect_callback_set(m_subscriber, [](mosquitto *m, void *, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "nivelix/#", 1);
    });
    mosquitto_message_callback_set(
        m_subscriber, [](mosquitto *, void *self, const mosquitto_message *message) {
          // Retained copies are what a new subscription is given, not the run.
          if (message->retain) return;
          auto *fixture = static_cast<RecordFixture *>(self);
          std::lock_guard<std::mutex> lock(fixture->m_mutex);
          const std::string topic = message->topic;
          const bool status = topic.size() > 7 && topic.compare(topic.size() - 7, 7, "/status") == 0;
          (status ? fixture->m_statuses : fixture->m_received).push_back(
              {message->topic, std::string(static_cast<const char *>(message->payload),
                                           static_cast<std::size_t>(message->payloadlen))});
        });
    ASSERT_EQ(mosquitto_connect(m_subscriber, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(m_subscriber);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  // What has arrived once at least count messages have, or at timeoutMs.
  std::vector<Received> WaitReceived(std::size_t count, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_received.size() >= count || std::chrono::steady_clock::now() > until) return m_received;
    }
  }

  // The status messages received, once one of them is status, or at timeoutMs.
  std::vector<Received> WaitStatus(const std::string &status, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      std::lock_guard<std::mutex> lock(m_mutex);
      const bool seen = std::any_of(m_statuses.begin(), m_statuses.end(),
                                    [&](const Received &r) { return r.payload == status; });
      if (seen || std::chrono::steady_clock::now() > until) return m_statuses;
    }
  }

  void ClearStatuses() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses.clear();
  }

  // With withSettings false the recorder is given no --settings (the line
  // comes from --port and the rest).
  std::unique_ptr<ChildProcess> StartRecorder(std::vector<std::string> args,
                                              const std::string &log = "record.log",
                                              bool withSettings = true) {
    if (withSettings) args.insert(args.begin(), {"--settings", dir + "/ruzazazo.cfg"});
    args.insert(args.begin(), NIVELIX_RECORD_PATH);
    return std::make_unique<ChildProcess>(args, dir + "/" + log);
  }

  std::string BrokerUrl() const { return "mqtt://127.0.0.1:" + std::to_string(port); }

  // Family A at 3 and family B at 7 (its reference given, or the
  // simulator's), angles swinging so that lines differ.
  void AddTwoSensors(const std::string &referenceB = {}) {
    nivsim::SensorAConfig a;
    a.identifier = 3;
    a.angle = nivsim::AngleSource::sine(10.0, 50.0, 7.0);
    bus->AddSensorA(a);
    nivsim::SensorBConfig b;
    b.identifier = 7;
    if (!referenceB.empty()) b.reference = referenceB;
    b.angle = nivsim::AngleSource::sine(-5.0, 30.0, 5.0);
    bus->AddSensorB(b);
  }

  std::string dir;
  int port = 0;

 private:
  QTemporaryDir m_dir;
  std::unique_ptr<ChildProcess> m_broker;
  mosquitto *m_subscriber = nullptr;
  std::mutex m_mutex;
  std::vector<Received> m_received;
  std::vector<Received> m_statuses;  // on nivelix/<site>/status
};

// A broker that is not one: accepts TCP connections on a free port of
// 127.0.0.1 and either answers the CONNECT with CONNACK "not authorised" or
// closes at once; counts the connections.
class FakeBroker {
 public:
  enum class Kind { RefusesLogin, DropsAtOnce };
  explicit FakeBroker(Kind kind) : m_kind(kind) {
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(m_socket, reinterpret_cast<sockaddr *>(&a), n);
    ::listen(m_socket, 16);
    ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&a), &n);
    port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~FakeBroker() {
    ::shutdown(m_socket, SHUT_RDWR);
    m_thread.join();
    ::close(m_socket);
  }
  int port = 0;
  std::atomic<int> connections{0};

 private:
  void Serve() {
    for (int c; (c = ::accept(m_socket, nullptr, nullptr)) >= 0; ::close(c)) {
      ++connections;
      if (m_kind == Kind::DropsAtOnce) continue;
      const timeval limit{2, 0};
      ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      char connect[512];
      if (::recv(c, connect, sizeof connect, 0) <= 0) continue;
      const unsigned char notAuthorised[] = {0x20, 0x02, 0x00, 0x05};
      ::send(c, notAuthorised, sizeof notAuthorised, MSG_NOSIGNAL);
      ::recv(c, connect, sizeof connect, 0);  // until the client closes
    }
  }
  Kind m_kind;
  int m_socket = -1;
  std::thread m_thread;
};

// Every value of every sample line of the file, in order, against the
// messages: message k of a run of n sensors is sensor k % n of line k / n, its
// value the file's field, its time the line's date and time. Repeats of a
// message (QoS 1 may deliver one twice after a reconnection) are dropped first.
inline void ExpectFileReachedSubscriber(const std::vector<std::string> &lines, std::size_t n,
                                        const std::vector<Received> &received) {
  std::set<std::pair<std::string, std::string>> seen;
  std::vector<Received> unique;
  for (const Received &r : received)
    if (seen.insert({r.topic, r.payload}).second) unique.push_back(r);
  ASSERT_GT(lines.size(), n + 3);
  ASSERT_EQ(unique.size(), (lines.size() - n - 3) * n);
  for (std::size_t k = 0; k < unique.size(); ++k) {
    const std::string &line = lines[n + 3 + k / n];
    const std::vector<std::string> fields = Fields(line);
    ASSERT_GT(fields.size(), 1 + k % n) << line;
    EXPECT_EQ(unique[k].topic, unique[k % n].topic) << "message " << k;
    EXPECT_EQ(JsonMember(unique[k].payload, "value"), fields[1 + k % n])
        << line << "\nmessage " << unique[k].payload;
    const std::string iso = JsonMember(unique[k].payload, "time");
    const QDateTime when =
        QDateTime::fromString(QString::fromStdString(iso.substr(1, iso.size() - 2)), Qt::ISODateWithMs)
            .toLocalTime();
    EXPECT_EQ((DateField(when.date(), DateYearMonthDay) + TimeField(when.time())).toStdString(),
              fields[0]) << iso;
  }
}

#endif
