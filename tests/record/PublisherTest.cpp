// The publisher's queue against a real broker: a bound that keeps the newest
// messages, a login read from a file.
#include <sys/stat.h>

#include "MqttPublisher.h"
#include "RecordFixture.h"

namespace {

using namespace std::chrono_literals;

class PublisherTest : public RecordFixture {
 protected:
  TMqttPublisher::Setup SetupFor(std::size_t capacity) {
    TMqttPublisher::Setup setup;
    setup.broker.host = "127.0.0.1";
    setup.broker.port = port;
    setup.clientId = "nivelix-test-publisher";
    setup.capacity = capacity;
    return setup;
  }
};

// Published while no broker listens: a full queue drops its oldest waiting
// message for each new one, and what is left goes out in order once the
// broker is there.
TEST_F(PublisherTest, FullQueueKeepsTheNewestAndSendsThemInOrder) {
  StopBroker();
  TMqttPublisher publisher;
  std::string error;
  ASSERT_TRUE(publisher.Start(SetupFor(3), error)) << error;
  for (int i = 1; i <= 5; ++i) publisher.Publish("nivelix/t/s-1", std::to_string(i));
  const MqttPublisherCounts away = publisher.Counts();
  EXPECT_EQ(away.waiting, 3u);
  EXPECT_EQ(away.dropped, 2u);
  EXPECT_FALSE(away.connected);

  StartBroker();
  Subscribe();
  publisher.Publish("nivelix/t/s-1", "6");  // drops "3"
  ASSERT_TRUE(publisher.Drain(15000));
  const std::vector<Received> received = WaitReceived(3, 5000);
  std::vector<std::string> payloads;
  for (const Received &r : received) payloads.push_back(r.payload);
  // The subscriber may have come before or after the first ones went out:
  // what it saw live is the tail of 4, 5, 6, in order.
  const std::vector<std::string> sent = {"4", "5", "6"};
  ASSERT_FALSE(payloads.empty());
  ASSERT_LE(payloads.size(), 3u);
  EXPECT_TRUE(std::equal(payloads.begin(), payloads.end(), sent.end() - payloads.size()));
  EXPECT_EQ(publisher.Counts().dropped, 3u);
  EXPECT_EQ(publisher.Counts().acknowledged, 3u);
}

// A message the library refuses for good (a topic that is not UTF-8, one
// with a wildcard) is dropped and counted; the ones behind it still go.
TEST_F(PublisherTest, RefusedMessageNeverHoldsUpTheQueue) {
  Subscribe();
  TMqttPublisher publisher;
  std::string error;
  ASSERT_TRUE(publisher.Start(SetupFor(10), error)) << error;
  publisher.Publish("nivelix/\xE9" "cluse/s-1", "1");
  publisher.Publish("nivelix/t/+", "2");
  publisher.Publish("nivelix/t/s-1", "3");
  ASSERT_TRUE(publisher.Drain(10000));
  EXPECT_EQ(publisher.Counts().refused, 2u);
  EXPECT_EQ(publisher.Counts().acknowledged, 1u);
  const std::vector<Received> received = WaitReceived(1, 5000);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].payload, "3");
}

// A broker that wants a login: the credentials file gives it; a wrong
// password is refused and said, and nothing is lost from the queue.
TEST_F(PublisherTest, LogsInWithTheCredentialsFile) {
  StopBroker();
  ASSERT_EQ(std::system(("mosquitto_passwd -b -c " + dir + "/passwords recorder 'good pass' >/dev/null 2>&1").c_str()), 0);
  std::ofstream(dir + "/broker.conf", std::ios::app)
      << "allow_anonymous false\npassword_file " << dir << "/passwords\n";
  StartBroker();
  for (const char *password : {"wrong", "good pass"}) {
    std::ofstream(dir + "/login") << "recorder\n" << password << "\n";
    ::chmod((dir + "/login").c_str(), 0600);
    TMqttPublisher::Setup setup = SetupFor(10);
    std::string error;
    ASSERT_TRUE(ReadMqttCredentials(dir + "/login", setup.credentials, error)) << error;
    setup.withCredentials = true;
    TMqttPublisher publisher;
    ASSERT_TRUE(publisher.Start(setup, error)) << error;
    publisher.Publish("nivelix/t/s-1", "1");
    const bool good = std::string(password) == "good pass";
    EXPECT_EQ(publisher.Drain(good ? 10000 : 2000), good) << password;
    EXPECT_EQ(publisher.Counts().refusal.empty(), good) << publisher.Counts().refusal;
    EXPECT_EQ(publisher.Counts().waiting, good ? 0u : 1u);
  }
}

// mqtts: a broker whose certificate the given authority signed is accepted;
// one signed by another authority is not, and the message stays queued.
TEST_F(PublisherTest, TlsTrustsOnlyTheGivenAuthority) {
  StopBroker();
  for (const char *name : {"broker", "other"})
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout " + dir + "/" + name +
                           ".key -out " + dir + "/" + name + ".pem >/dev/null 2>&1").c_str()), 0);
  const int tlsPort = Loopback(0, false);
  std::ofstream(dir + "/broker.conf", std::ios::app)
      << "listener " << tlsPort << " 127.0.0.1\ncertfile " << dir << "/broker.pem\nkeyfile " << dir
      << "/broker.key\n";
  StartBroker();
  for (const char *authority : {"other", "broker"}) {
    TMqttPublisher::Setup setup = SetupFor(10);
    setup.broker.tls = true;
    setup.broker.port = tlsPort;
    setup.caPath = dir + "/" + authority + ".pem";
    TMqttPublisher publisher;
    std::string error;
    ASSERT_TRUE(publisher.Start(setup, error)) << error;
    publisher.Publish("nivelix/t/s-1", "1");
    const bool trusted = std::string(authority) == "broker";
    EXPECT_EQ(publisher.Drain(trusted ? 10000 : 3000), trusted) << authority;
    EXPECT_EQ(publisher.Counts().waiting, trusted ? 0u : 1u) << authority;
  }
}

}  // namespace
