// RecordOptions: the command line of nivelix-record and its exit codes.
//
// Parsing only: nothing here opens a file or talks to a sensor, so every
// refusal of a command line is decided before the run touches anything.
#ifndef NIVELIX_RECORDOPTIONS_H
#define NIVELIX_RECORDOPTIONS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The exit codes of nivelix-record, documented in --help and the user guide.
// The service unit counts Stopped as a clean end (SuccessExitStatus), so a
// stop by systemd is not taken for a failure.
enum class RecordExit : int {
  Success = 0,      // the whole duration was recorded
  Usage = 2,        // bad command line
  Settings = 3,     // settings file missing, unreadable, damaged or naming what cannot be used
  Port = 4,         // serial port missing, busy or held by another program
  NoSensor = 5,     // no sensor answered at start (none of those named, or none on RS232)
  File = 6,         // the acquisition file could not be created, or a line not written
  Mqtt = 7,         // broker URL, credentials or TLS files unusable
  Stopped = 8,      // ended early by SIGTERM or SIGINT, after a whole line
};

struct MqttTarget {
  bool tls = false;
  std::string host;
  int port = 0;
};

// Bounds of what the command line takes.
constexpr int FirstComPort = 1;
constexpr int LastComPort = 8;
constexpr int DefaultKeepAliveSeconds = 30;
constexpr int ShortestKeepAliveSeconds = 5;   // libmosquitto's own least
constexpr int LongestKeepAliveSeconds = 60;
// A topic holds at most 65535 bytes; a site this long leaves room for the
// rest and is still a name one can type.
constexpr std::size_t LongestSiteBytes = 200;

struct RecordOptions {
  bool help = false;
  bool scan = false;            // --scan: list what answers on the line, record nothing
  std::string settingsPath = "ruzazazo.cfg";
  // The line and the file's format from the command line instead of a
  // settings file (a PC set up over ssh): a port given makes the others
  // count; the ones not given keep the program's defaults.
  int portNumber = 0;           // 0: from the settings file
  int linkType = -1;            // LinkKind, -1: RS485
  int unit = -1;                // display unit index, -1: the default (Deg)
  int dateFormat = -1;          // DateOrder, -1: the default (year/month/day)
  std::vector<int> addresses;  // in the order given, no repeats
  int64_t periodSeconds = 5;
  int64_t durationSeconds = 0;  // 0: until stopped
  std::string filePath;         // empty: the settings' acquisition file
  bool mqtt = false;
  MqttTarget broker;
  std::string credentialsPath;
  std::string caPath;
  std::string site;             // empty: the host name
  int keepAliveSeconds = DefaultKeepAliveSeconds;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // why the command line was refused, one line
  RecordOptions options;
};

// args without the program name.
ParseResult ParseRecordOptions(const std::vector<std::string> &args);

// "N" (seconds) or N followed by s, min, h or d: seconds, or -1 when the text
// is not such a count, is below 1 or does not fit in 32 bits of seconds (the
// acquisition dialog's limit).
int64_t ParseSpan(const std::string &text);

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883), an IPv6 address
// in brackets ("mqtt://[::1]:1883", host "::1"); false when the text is
// neither.
bool ParseMqttUrl(const std::string &text, MqttTarget &target);

// The --help text.
const char *RecordUsage();

#endif
