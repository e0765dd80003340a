#include "RecordOptions.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "UtilCapt.h"

namespace {

constexpr int DefaultMqttPort = 1883;
constexpr int DefaultMqttsPort = 8883;
constexpr int FirstAddress = 1;
constexpr int LastAddress = 255;

bool AllDigits(const std::string &text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// A decimal count of at most nine digits (so that it cannot overflow), or -1.
int64_t Count(const std::string &text) {
  if (!AllDigits(text) || text.size() > 9) return -1;
  return std::stoll(text);
}

}  // namespace

int64_t ParseSpan(const std::string &text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  const int64_t n = Count(text.substr(0, digits));
  const std::string unit = text.substr(digits);
  int64_t scale = 0;
  if (unit.empty() || unit == "s")
    scale = 1;
  else if (unit == "min")
    scale = SecondsPerMinute;
  else if (unit == "h")
    scale = SecondsPerHour;
  else if (unit == "d")
    scale = SecondsPerDay;
  if (n < 1 || scale == 0) return -1;
  const int64_t seconds = n * scale;
  return seconds > INT32_MAX ? -1 : seconds;
}

bool ParseMqttUrl(const std::string &text, MqttTarget &target) {
  MqttTarget t;
  std::string rest;
  if (text.rfind("mqtt://", 0) == 0) {
    rest = text.substr(7);
    t.port = DefaultMqttPort;
  } else if (text.rfind("mqtts://", 0) == 0) {
    rest = text.substr(8);
    t.tls = true;
    t.port = DefaultMqttsPort;
  } else {
    return false;
  }
  // A trailing slash is how URLs are often copied; anything after it is not
  // something the broker connection could use.
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find_first_of("/@?# ") != std::string::npos) return false;
  const std::size_t colon = rest.rfind(':');
  t.host = rest.substr(0, colon);
  if (colon != std::string::npos) {
    const int64_t port = Count(rest.substr(colon + 1));
    if (port < 1 || port > 65535) return false;
    t.port = static_cast<int>(port);
  }
  if (t.host.empty()) return false;
  target = t;
  return true;
}

ParseResult ParseRecordOptions(const std::vector<std::string> &args) {
  ParseResult result;
  RecordOptions &o = result.options;
  bool sawPeriod = false, sawDuration = false, sawFile = false, sawSettings = false;
  auto fail = [&result](const std::string &why) {
    result.ok = false;
    result.error = why;
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      result.ok = true;
      return result;
    }
    static const char *const WithValue[] = {"--settings", "--sensor", "--period", "--duration",
                                            "--file", "--mqtt", "--mqtt-credentials",
                                            "--mqtt-ca", "--site"};
    if (std::find(std::begin(WithValue), std::end(WithValue), name) == std::end(WithValue))
      return fail("unknown option '" + args[i] + "'");
    if (!hasValue) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    auto once = [&](bool &seen) {
      const bool again = seen;
      seen = true;
      return again;
    };
    if (name == "--settings") {
      if (once(sawSettings)) return fail("--settings given twice");
      if (value.empty()) return fail("--settings needs a file name");
      o.settingsPath = value;
    } else if (name == "--sensor") {
      const int64_t address = Count(value);
      if (address < FirstAddress || address > LastAddress)
        return fail("--sensor '" + value + "': an address is a number from 1 to 255");
      if (std::find(o.addresses.begin(), o.addresses.end(), address) != o.addresses.end())
        return fail("--sensor " + value + " given twice");
      o.addresses.push_back(static_cast<int>(address));
    } else if (name == "--period" || name == "--duration") {
      if (once(name == "--period" ? sawPeriod : sawDuration)) return fail(name + " given twice");
      const int64_t seconds = ParseSpan(value);
      if (seconds < 0)
        return fail(name + " '" + value +
                    "': a whole number of s, min, h or d, at least 1 (e.g. 10s, 5min, 2h, 7d)");
      (name == "--period" ? o.periodSeconds : o.durationSeconds) = seconds;
    } else if (name == "--file") {
      if (once(sawFile)) return fail("--file given twice");
      if (value.empty()) return fail("--file needs a file name");
      o.filePath = value;
    } else if (name == "--mqtt") {
      if (o.mqtt) return fail("--mqtt given twice");
      if (!ParseMqttUrl(value, o.broker))
        return fail("--mqtt '" + value + "': expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
      o.mqtt = true;
    } else if (name == "--mqtt-credentials") {
      if (!o.credentialsPath.empty()) return fail("--mqtt-credentials given twice");
      if (value.empty()) return fail("--mqtt-credentials needs a file name");
      o.credentialsPath = value;
    } else if (name == "--mqtt-ca") {
      if (!o.caPath.empty()) return fail("--mqtt-ca given twice");
      if (value.empty()) return fail("--mqtt-ca needs a file name");
      o.caPath = value;
    } else if (name == "--site") {
      if (value.empty()) return fail("--site needs a name");
      o.site = value;
    }
  }
  // --help wins over everything else, so that it can be added to any
  // command line that was refused.
  if (o.help) {
    result.ok = true;
    return result;
  }
  if (!o.mqtt && (!o.credentialsPath.empty() || !o.caPath.empty() || !o.site.empty()))
    return fail("--mqtt-credentials, --mqtt-ca and --site need --mqtt");
  if (!o.caPath.empty() && !o.broker.tls) return fail("--mqtt-ca needs an mqtts:// broker");
  if (sawDuration && o.durationSeconds < o.periodSeconds)
    return fail("--duration is shorter than --period: no sample would be taken");
  result.ok = true;
  return result;
}

const char *RecordUsage() {
  return "Usage: nivelix-record [--settings FILE] [--sensor ADDR]... [--period SPAN]\n"
         "                      [--duration SPAN] [--file PATH] [--mqtt URL\n"
         "                      [--mqtt-credentials FILE] [--mqtt-ca FILE] [--site NAME]]\n"
         "\n"
         "Records the angles of inclinometers into an acquisition file, the same file\n"
         "as the program's Acquisition, without a window; optionally publishes every\n"
         "sample to an MQTT broker.\n"
         "\n"
         "  --settings FILE   settings file of the program (default ruzazazo.cfg in the\n"
         "                    current folder): port, link, unit and date format\n"
         "  --sensor ADDR     address (1..255) of a sensor on the RS485 bus; repeat it\n"
         "                    for each sensor, columns in the order given. On RS232 the\n"
         "                    one sensor is recorded and --sensor is not needed\n"
         "  --period SPAN     time between samples (default 5s)\n"
         "  --duration SPAN   length of the run (default: until stopped)\n"
         "      SPAN is a whole number followed by s, min, h or d (no unit: seconds)\n"
         "  --file PATH       acquisition file (default: the one in the settings). An\n"
         "                    existing file is never replaced: the start time is added\n"
         "                    to the name (data.txt -> data-20250131-142501.txt)\n"
         "  --mqtt URL        mqtt://HOST[:PORT] (default port 1883) or\n"
         "                    mqtts://HOST[:PORT] (TLS, default port 8883)\n"
         "  --mqtt-credentials FILE  user name on the first line, password on the\n"
         "                    second; refused when every user may read it\n"
         "  --mqtt-ca FILE    certificate authority of an mqtts:// broker (default: the\n"
         "                    system's certificates)\n"
         "  --site NAME       the site in the topic (default: the host name)\n"
         "  --help            this text\n"
         "\n"
         "Each sample goes to topic nivelix/SITE/REFERENCE-SERIAL, one message per\n"
         "sensor, QoS 1, retained, as JSON:\n"
         "  {\"time\":\"2025-01-31T14:25:06.000+01:00\",\"mrad\":1.234,\"value\":0.0707,\n"
         "   \"unit\":\"Deg\",\"failed\":false}\n"
         "A failed reading has \"failed\":true and null values. While the broker cannot\n"
         "be reached, messages wait (up to one day of samples) and go out in order\n"
         "later; the file is always written first.\n"
         "\n"
         "SIGTERM or SIGINT ends the run after the line being written. Progress is\n"
         "shown on standard error when it is a terminal.\n"
         "\n"
         "Exit codes: 0 the whole duration recorded; 2 bad command line; 3 settings\n"
         "file missing or unreadable; 4 serial port cannot be used; 5 a sensor did\n"
         "not answer; 6 acquisition file cannot be created, or a line could not be\n"
         "written; 7 broker URL, credentials or certificate file unusable; 8 stopped\n"
         "by SIGTERM or SIGINT.\n";
}
