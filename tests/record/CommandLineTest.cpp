// What nivelix-record refuses, with which exit code and which words, and the
// pure parts of what it publishes.
#include <sys/stat.h>

#include <clocale>

#include "../utilcapt/CommaLocale.h"
#include "MqttMessage.h"
#include "RecordFixture.h"
#include "RecordOptions.h"
#include "VerrouPort.h"

namespace {

enum class Ground {
  Normal, NoSettingsFile, ShortSettingsFile, SettingsLink, Unplugged, PortLocked, OpenCredentials,
  PrivateCredentials, SettingsPortOutOfRange, RandomSettings, Headless
};

struct Refusal {
  const char *name;
  std::vector<std::string> args;
  Ground ground;
  int exitCode;
  const char *says;
};

class CommandLineTest : public RecordFixture, public ::testing::WithParamInterface<Refusal> {
 protected:
  TVerrouPort heldPort;  // as another program holding the recorder's port
};

TEST_P(CommandLineTest, RefusesWithItsCodeAndAClearMessage) {
  const Refusal &r = GetParam();
  nivsim::SensorAConfig a;
  a.identifier = 3;
  a.rs232 = r.ground == Ground::Headless;  // the line --port 5 --rs232 names
  bus->AddSensorA(a);
  SettingsRecord record = DefaultSettings();
  const QString folder = QString::fromStdString(dir), url = QString::fromStdString(BrokerUrl());
  std::vector<std::string> args;
  for (const std::string &arg : r.args)
    args.push_back(
        QString::fromStdString(arg).replace("DIR", folder).replace("URL", url).toStdString());
  switch (r.ground) {
    case Ground::NoSettingsFile: ::unlink((dir + "/ruzazazo.cfg").c_str()); break;
    case Ground::ShortSettingsFile: std::ofstream(dir + "/ruzazazo.cfg") << "short"; break;
    case Ground::SettingsLink:
      ::rename((dir + "/ruzazazo.cfg").c_str(), (dir + "/real.cfg").c_str());
      ::symlink((dir + "/real.cfg").c_str(), (dir + "/ruzazazo.cfg").c_str());
      break;
    case Ground::Unplugged: bus->Unplug(); break;
    case Ground::PortLocked: ASSERT_EQ(heldPort.Prendre(5).Etat, EtatVerrou::Pris); break;
    case Ground::OpenCredentials:
    case Ground::PrivateCredentials:
      std::ofstream(dir + "/login") << "user\nsecret-password\n";
      ::chmod((dir + "/login").c_str(), r.ground == Ground::OpenCredentials ? 0644 : 0600);
      break;
    case Ground::SettingsPortOutOfRange:
    case Ground::RandomSettings:
      // What nivelix3 loads as it is, but names no port, link or unit there is.
      record.PortNumber = 507580610;
      if (r.ground == Ground::RandomSettings)
        for (std::size_t i = 0; i < sizeof record; ++i)
          reinterpret_cast<unsigned char *>(&record)[i] = static_cast<unsigned char>(i * 151 + 7);
      std::ofstream(dir + "/ruzazazo.cfg", std::ios::binary)
          .write(reinterpret_cast<const char *>(&record), sizeof record);
      break;
    case Ground::Headless: break;
    case Ground::Normal: break;
  }
  auto recorder = StartRecorder(args, "record.log", r.ground != Ground::Headless);
  EXPECT_EQ(recorder->Wait(30000), r.exitCode);
  const std::string said = ReadWhole(dir + "/record.log");
  EXPECT_NE(said.find(r.says), std::string::npos) << said;
  EXPECT_EQ(said.find("secret-password"), std::string::npos) << said;
  if (r.exitCode != 0) {
    EXPECT_FALSE(std::ifstream(dir + "/out.txt").good()) << "a file was made";
  }
}

const Refusal Refusals[] = {
    {"Help", {"--help"}, Ground::Normal, 0, "Exit codes:"},
    {"HelpWithOthers", {"--sensor", "3", "--help"}, Ground::Normal, 0, "--mqtt-credentials FILE"},
    {"UnknownOption", {"--sensr", "3"}, Ground::Normal, 2, "unknown option '--sensr'"},
    {"MissingValue", {"--sensor", "3", "--file"}, Ground::Normal, 2, "--file needs a value"},
    {"AddressZero", {"--sensor", "0"}, Ground::Normal, 2, "a number from 1 to 255"},
    {"AddressTooHigh", {"--sensor", "256"}, Ground::Normal, 2, "a number from 1 to 255"},
    {"AddressTwice", {"--sensor", "3", "--sensor=3"}, Ground::Normal, 2, "--sensor 3 given twice"},
    {"PeriodZero", {"--sensor", "3", "--period", "0"}, Ground::Normal, 2, "--period '0'"},
    {"PeriodUnknownUnit", {"--sensor", "3", "--period", "5m"}, Ground::Normal, 2, "s, min, h or d"},
    {"PeriodFraction", {"--sensor", "3", "--period", "1.5s"}, Ground::Normal, 2, "--period '1.5s'"},
    {"PeriodOverflows", {"--sensor", "3", "--period", "30000d"}, Ground::Normal, 2, "--period"},
    {"DurationShort", {"--sensor", "3", "--period", "1min", "--duration", "30s"}, Ground::Normal, 2,
     "shorter than --period"},
    {"NotMqttUrl", {"--sensor", "3", "--mqtt", "http://h"}, Ground::Normal, 2, "mqtt://HOST"},
    {"BadMqttPort", {"--sensor", "3", "--mqtt", "mqtt://h:70000"}, Ground::Normal, 2, "mqtt://HOST"},
    {"MqttUrlWithUser", {"--sensor", "3", "--mqtt", "mqtt://u@h"}, Ground::Normal, 2, "mqtt://HOST"},
    {"MqttUrlNoHost", {"--sensor", "3", "--mqtt", "mqtts://:8883"}, Ground::Normal, 2, "mqtt://HOST"},
    {"SiteWithoutMqtt", {"--sensor", "3", "--site", "x"}, Ground::Normal, 2, "need --mqtt"},
    {"CaWithoutTls", {"--sensor", "3", "--mqtt", "mqtt://h", "--mqtt-ca", "x"}, Ground::Normal, 2,
     "needs an mqtts://"},
    {"BusWithoutSensor", {"--file", "DIR/out.txt"}, Ground::Normal, 2, "--sensor"},
    {"NoSettingsFile", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::NoSettingsFile, 3,
     "save the settings once with nivelix3"},
    {"ShortSettingsFile", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::ShortSettingsFile,
     3, "holds less than one whole record"},
    {"SettingsLink", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::SettingsLink, 3,
     "a symbolic link"},
    {"PortGone", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::Unplugged, 4, ": not found"},
    {"PortHeldByAnother", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::PortLocked, 4,
     "in use by another program (test_record, process"},
    {"NoSensorThere", {"--sensor", "9", "--sensor", "11", "--file", "DIR/out.txt"}, Ground::Normal,
     5, "none of the sensors named answers on COM5"},
    {"SiteTwice", {"--sensor", "3", "--mqtt", "URL", "--site", "a", "--site=b"}, Ground::Normal, 2,
     "--site given twice"},
    {"SiteTooLong", {"--sensor", "3", "--mqtt", "URL", "--site", std::string(201, 's')},
     Ground::Normal, 2, "to fit in a topic"},
    {"KeepAliveTooShort", {"--sensor", "3", "--mqtt", "URL", "--mqtt-keepalive", "4"},
     Ground::Normal, 2, "from 5 to 60"},
    {"LineWithSettings", {"--port", "5", "--sensor", "3"}, Ground::Normal, 2, "not both"},
    {"PortOutOfRange", {"--port", "9"}, Ground::Headless, 2, "from 1 to 8 (COM1..COM8)"},
    {"UnitUnknown", {"--port", "5", "--unit", "rad"}, Ground::Headless, 2, "one of mRad, Deg"},
    {"LinkTwice", {"--port", "5", "--rs232", "--rs485"}, Ground::Headless, 2, "give one of them"},
    {"UnitWithoutPort", {"--unit", "Deg", "--sensor", "3"}, Ground::Headless, 2, "need --port"},
    {"ScanRecordsNothing", {"--scan", "--sensor", "3"}, Ground::Normal, 2, "records nothing"},
    {"SettingsPortOutOfRange", {"--sensor", "3", "--file", "DIR/out.txt"},
     Ground::SettingsPortOutOfRange, 3, "port number 507580610 is not COM1..COM8"},
    {"RandomSettings", {"--sensor", "3", "--file", "DIR/out.txt"}, Ground::RandomSettings, 3,
     "cannot be used"},
    {"PasswordInClear",
     {"--sensor", "3", "--file", "DIR/none/out.txt", "--mqtt", "URL", "--mqtt-credentials",
      "DIR/login"},
     Ground::PrivateCredentials, 6, "<4>nivelix-record: the password goes to 127.0.0.1 unencrypted"},
    {"HeadlessScan", {"--port", "5", "--rs232", "--unit", "mm/m", "--scan"}, Ground::Headless, 0,
     "3\tKV72500\tKV72500-AB\t123456\t"},
    {"FolderMissing", {"--sensor", "3", "--file", "DIR/none/out.txt"}, Ground::Normal, 6,
     "cannot create"},
    {"OpenCredentials",
     {"--sensor", "3", "--file", "DIR/out.txt", "--mqtt", "URL", "--mqtt-credentials", "DIR/login"},
     Ground::OpenCredentials, 7, "make it private"},
    {"NoCaFile",
     {"--sensor", "3", "--file", "DIR/out.txt", "--mqtt", "mqtts://127.0.0.1:1", "--mqtt-ca",
      "DIR/none.pem"},
     Ground::Normal, 7, "certificate file"},
};

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineTest, ::testing::ValuesIn(Refusals), ByName);

TEST(RecordSpanTest, TakesTheDialogUnits) {
  const struct {
    const char *text;
    int64_t seconds;
  } rows[] = {{"5", 5},     {"5s", 5},      {"2min", 120},  {"3h", 10800}, {"7d", 604800},
              {"0s", -1},   {"", -1},       {"s", -1},      {"-5", -1},    {"5 s", -1},
              {"24856d", -1}, {"24855d", 24855 * 86400LL}, {"1234567890", -1}};
  for (const auto &row : rows) EXPECT_EQ(ParseSpan(row.text), row.seconds) << row.text;
}

TEST(RecordMessageTest, TopicLevelsHoldNoWildcardOrSeparator) {
  EXPECT_EQ(MqttTopic("dam/east #2", "KV+1", 12), "nivelix/dam_east__2/KV_1-12");
  EXPECT_EQ(MqttTopic("", "", 0), "nivelix/_/_-0");
  EXPECT_EQ(MqttStatusTopic("dam east"), "nivelix/dam_east/status");
  // Whole UTF-8 characters stay; a Latin-1 byte, a cut or overlong sequence,
  // a surrogate and a C1 control do not.
  const struct {
    const char *text, *level;
  } rows[] = {{"\xC3\xA9" "cluse", "\xC3\xA9" "cluse"}, {"\xE9" "cluse", "_cluse"}, {"KV\xB5", "KV_"},
              {"a\xE2\x82", "a__"},            {"\xC0\xAF", "__"},        {"\xED\xA0\x80", "___"},
              {"\xC2\x85x", "_x"},             {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}};
  for (const auto &row : rows) EXPECT_EQ(MqttTopicLevel(row.text), row.level) << row.text;
}

TEST(RecordUrlTest, TakesHostPortAndBracketedAddresses) {
  const struct {
    const char *url;
    bool ok;
    const char *host;
    int port;
  } rows[] = {{"mqtt://h", true, "h", 1883},          {"mqtts://h:1", true, "h", 1},
              {"mqtt://[::1]:1884", true, "::1", 1884}, {"mqtt://[fe80::2]", true, "fe80::2", 1883},
              {"mqtt://::1", false, "", 0},           {"mqtt://[::1", false, "", 0},
              {"mqtt://[::1]x", false, "", 0},        {"mqtt://[h/x]", false, "", 0}};
  for (const auto &row : rows) {
    MqttTarget t;
    EXPECT_EQ(ParseMqttUrl(row.url, t), row.ok) << row.url;
    if (row.ok) {
      EXPECT_EQ(t.host, row.host) << row.url;
      EXPECT_EQ(t.port, row.port) << row.url;
    }
  }
}

TEST(RecordMessageTest, PayloadCarriesZoneUnitAndNullsForAFailure) {
  const QDateTime when(QDate(2025, 1, 31), QTime(14, 25, 6, 7), Qt::OffsetFromUTC, 3600);
  const MqttIdentity who{"pier", "KV72500-AB-123456", 3};
  EXPECT_EQ(MqttPayload(who, 12, when, false, 17.4533, 1, 5, 1),
            "{\"site\":\"pier\",\"sensor\":\"KV72500-AB-123456\",\"address\":3,\"seq\":12,\"time\":\"2025-01-31T14:25:06.007+01:00\",\"mrad\":17.4533,\"value\":1.0000,"
            "\"unit\":\"Deg\",\"failed\":false}");
  EXPECT_EQ(MqttPayload(who, 1, when, true, 100000.0, 0, 5, 1),
            "{\"site\":\"pier\",\"sensor\":\"KV72500-AB-123456\",\"address\":3,\"seq\":1,\"time\":\"2025-01-31T14:25:06.007+01:00\",\"mrad\":null,\"value\":null,"
            "\"unit\":\"mRad\",\"failed\":true}");
  // Where the file writes "1,0000", JSON still needs the point.
  CommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << "no decimal-comma locale";
  EXPECT_NE(MqttPayload(who, 1, when, false, 17.4533, 1, 5, 1).find("\"mrad\":17.4533,\"value\":1.0000,"),
            std::string::npos);
}

}  // namespace
