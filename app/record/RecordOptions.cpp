#include "RecordOptions.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "UtilCapt.h"
#include "globales.h"

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

std::string Lower(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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
  std::size_t colon = rest.rfind(':');
  if (!rest.empty() && rest.front() == '[') {
    // An IPv6 address: its colons are not the port's.
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    t.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size() && rest[close + 1] != ':') return false;
    colon = close + 1 < rest.size() ? close + 1 : std::string::npos;
    if (t.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) return false;
  } else {
    t.host = rest.substr(0, colon);
    // A bare IPv6 address: which colon ends it cannot be told.
    if (t.host.find(':') != std::string::npos || t.host.find_first_of("[]") != std::string::npos)
      return false;
  }
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
  bool sawPeriod = false, sawDuration = false, sawFile = false, sawSettings = false,
       sawKeepAlive = false;
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
    if (name == "--scan" || name == "--rs485" || name == "--rs232") {
      if (hasValue) return fail(name + " takes no value");
      if (name == "--scan") {
        if (o.scan) return fail("--scan given twice");
        o.scan = true;
      } else {
        if (o.linkType >= 0) return fail("--rs485 and --rs232: give one of them, once");
        o.linkType = name == "--rs232" ? LinkRs232 : LinkRs485;
      }
      continue;
    }
    static const char *const WithValue[] = {"--settings", "--sensor", "--period", "--duration",
                                            "--file", "--mqtt", "--mqtt-credentials",
                                            "--mqtt-ca", "--site", "--port", "--unit",
                                            "--date-format", "--mqtt-keepalive"};
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
      if (!o.site.empty()) return fail("--site given twice");
      if (value.empty()) return fail("--site needs a name");
      if (value.size() > LongestSiteBytes)
        return fail("--site: at most " + std::to_string(LongestSiteBytes) +
                    " bytes, to fit in a topic");
      o.site = value;
    } else if (name == "--port") {
      if (o.portNumber != 0) return fail("--port given twice");
      const int64_t n = Count(value);
      if (n < FirstComPort || n > LastComPort)
        return fail("--port '" + value + "': a port number from 1 to 8 (COM1..COM8)");
      o.portNumber = static_cast<int>(n);
    } else if (name == "--unit") {
      if (o.unit >= 0) return fail("--unit given twice");
      for (int unit = UnitMRad; unit <= UnitMmPerM; ++unit)
        if (Lower(value) == Lower(AngleUnitName(unit))) o.unit = unit;
      if (o.unit < 0) return fail("--unit '" + value + "': one of mRad, Deg, %, mm/m");
    } else if (name == "--date-format") {
      if (o.dateFormat >= 0) return fail("--date-format given twice");
      if (value == "dmy") o.dateFormat = DateDayMonthYear;
      else if (value == "mdy") o.dateFormat = DateMonthDayYear;
      else if (value == "ymd") o.dateFormat = DateYearMonthDay;
      else return fail("--date-format '" + value + "': dmy, mdy or ymd");
    } else if (name == "--mqtt-keepalive") {
      if (once(sawKeepAlive)) return fail("--mqtt-keepalive given twice");
      const int64_t n = Count(value);
      if (n < ShortestKeepAliveSeconds || n > LongestKeepAliveSeconds)
        return fail("--mqtt-keepalive '" + value + "': seconds, from 5 to 60");
      o.keepAliveSeconds = static_cast<int>(n);
    }
  }
  // --help wins over everything else, so that it can be added to any
  // command line that was refused.
  if (o.help) {
    result.ok = true;
    return result;
  }
  const bool lineGiven = o.linkType >= 0 || o.unit >= 0 || o.dateFormat >= 0;
  if (sawSettings && (o.portNumber != 0 || lineGiven))
    return fail("--settings or --port, --rs485, --rs232, --unit, --date-format: the line "
                "comes from a settings file or from the command line, not both");
  if (lineGiven && o.portNumber == 0)
    return fail("--rs485, --rs232, --unit and --date-format need --port");
  if (o.scan && (!o.addresses.empty() || sawPeriod || sawDuration || sawFile || o.mqtt))
    return fail("--scan lists the sensors and records nothing: it takes only --settings, or "
                "--port with --rs485 or --rs232");
  if (!o.mqtt && (!o.credentialsPath.empty() || !o.caPath.empty() || !o.site.empty() ||
                  sawKeepAlive))
    return fail("--mqtt-credentials, --mqtt-ca, --mqtt-keepalive and --site need --mqtt");
  if (!o.caPath.empty() && !o.broker.tls) return fail("--mqtt-ca needs an mqtts:// broker");
  if (sawDuration && o.durationSeconds < o.periodSeconds)
    return fail("--duration is shorter than --period: no sample would be taken");
  result.ok = true;
  return result;
}

const char *RecordUsage() {
  return "Usage: nivelix-record [--settings FILE | --port N [--rs485|--rs232] [--unit U]\n"
         "                      [--date-format F]] [--sensor ADDR]... [--period SPAN]\n"
         "                      [--duration SPAN] [--file PATH] [--mqtt URL\n"
         "                      [--mqtt-credentials FILE] [--mqtt-ca FILE] [--site NAME]\n"
         "                      [--mqtt-keepalive SECONDS]]\n"
         "       nivelix-record --scan [--settings FILE | --port N [--rs485|--rs232]]\n"
         "\n"
         "Records the angles of inclinometers into an acquisition file, the same file\n"
         "as the program's Acquisition, without a window; optionally publishes every\n"
         "sample to an MQTT broker.\n"
         "\n"
         "  --settings FILE   settings file of the program (default ruzazazo.cfg in the\n"
         "                    current folder): port, link, unit and date format\n"
         "  --port N          instead of a settings file: serial port COMN (1..8)\n"
         "  --rs485, --rs232  with --port: the kind of line (default --rs485)\n"
         "  --unit U          with --port: mRad, Deg, % or mm/m (default Deg)\n"
         "  --date-format F   with --port: dmy, mdy or ymd (default ymd)\n"
         "  --scan            lists the sensors that answer on the line, one a line:\n"
         "                    address, family, reference, serial, full scale; records\n"
         "                    nothing (an RS485 sweep takes about 75 s)\n"
         "  --sensor ADDR     address (1..255) of a sensor on the RS485 bus; repeat it\n"
         "                    for each sensor, columns in the order given. A sensor\n"
         "                    that does not answer at start is left out (and said);\n"
         "                    on RS232 the one sensor is recorded without --sensor\n"
         "  --period SPAN     time between samples (default 5s)\n"
         "  --duration SPAN   length of the run (default: until stopped)\n"
         "      SPAN is a whole number followed by s, min, h or d (no unit: seconds)\n"
         "  --file PATH       acquisition file (default: the one in the settings, or\n"
         "                    Acquisition.txt with --port). An existing file is never\n"
         "                    replaced: the start time is added to the name\n"
         "                    (data.txt -> data-20250131-142501.txt)\n"
         "  --mqtt URL        mqtt://HOST[:PORT] (default port 1883) or\n"
         "                    mqtts://HOST[:PORT] (TLS, default port 8883); an IPv6\n"
         "                    address in brackets: mqtt://[::1]:1883\n"
         "  --mqtt-credentials FILE  user name on the first line, password on the\n"
         "                    second; refused when every user may read it\n"
         "  --mqtt-ca FILE    certificate authority of an mqtts:// broker (default: the\n"
         "                    system's certificates)\n"
         "  --site NAME       the site in the topic (default: the host name)\n"
         "  --mqtt-keepalive SECONDS  how often the broker hears from the recorder when\n"
         "                    there is nothing to send (5..60, default 30); it reports\n"
         "                    the recorder offline after one and a half of them\n"
         "  --help            this text\n"
         "\n"
         "Each sample goes to topic nivelix/SITE/REFERENCE-SERIAL, one message per\n"
         "sensor, QoS 1, retained, as JSON:\n"
         "  {\"site\":\"pier\",\"sensor\":\"KV72500-AB-123456\",\"address\":3,\"seq\":12,\n"
         "   \"time\":\"2025-01-31T14:25:06.000+01:00\",\"mrad\":1.234,\"value\":0.0707,\n"
         "   \"unit\":\"Deg\",\"failed\":false}\n"
         "seq counts the samples of the run from 1. A failed reading has\n"
         "\"failed\":true and null values. Bytes of the site or reference that are not\n"
         "UTF-8, blanks, control characters, +, # and / become _ in the topic (and in\n"
         "site and sensor). Topic nivelix/SITE/status holds \"online\" (retained) while\n"
         "the recorder is connected, and \"offline\" after it stopped or, as its last\n"
         "will, once the broker has missed it for 1.5 keep-alives. While the broker\n"
         "cannot be reached, messages wait (up to one day of samples) and go out in\n"
         "order later; the file is always written first. A broker that refuses or\n"
         "drops the connection is tried again after 1 s, then twice as long each time\n"
         "up to a minute; a refused login is said once and tried again every minute.\n"
         "\n"
         "SIGTERM or SIGINT ends the run after the line being written. Progress is\n"
         "shown on standard error when it is a terminal; otherwise every line there\n"
         "starts with the journal's priority: <3> error, <4> warning, <6> information.\n"
         "\n"
         "Exit codes: 0 the whole duration recorded (--scan: a sensor found); 2 bad\n"
         "command line; 3 settings file missing, unreadable or naming a port, link or\n"
         "unit that does not exist; 4 serial port cannot be used; 5 no sensor\n"
         "answered; 6 acquisition file cannot be created, or a line could not be\n"
         "written; 7 broker URL, credentials or certificate file unusable; 8 stopped\n"
         "by SIGTERM or SIGINT.\n";
}
