// RecordOptions: the command line of nivelix-record and its exit codes.
//
// Parsing only: nothing here opens a file or talks to a sensor, so every
// refusal of a command line is decided before the run touches anything.
#ifndef NIVELIX_RECORDOPTIONS_H
#define NIVELIX_RECORDOPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

// The exit codes of nivelix-record, documented in --help and the user guide.
// The service unit counts Stopped as a clean end (SuccessExitStatus), so a
// stop by systemd is not taken for a failure.
enum class RecordExit : int {
  Success = 0,      // the whole duration was recorded
  Usage = 2,        // bad command line
  Settings = 3,     // settings file missing, unreadable or damaged
  Port = 4,         // serial port missing, busy or held by another program
  NoSensor = 5,     // a named sensor did not answer (or none on RS232)
  File = 6,         // the acquisition file could not be created, or a line not written
  Mqtt = 7,         // broker URL, credentials or TLS files unusable
  Stopped = 8,      // ended early by SIGTERM or SIGINT, after a whole line
};

struct MqttTarget {
  bool tls = false;
  std::string host;
  int port = 0;
};

struct RecordOptions {
  bool help = false;
  std::string settingsPath = "ruzazazo.cfg";
  std::vector<int> addresses;  // in the order given, no repeats
  int64_t periodSeconds = 5;
  int64_t durationSeconds = 0;  // 0: until stopped
  std::string filePath;         // empty: the settings' acquisition file
  bool mqtt = false;
  MqttTarget broker;
  std::string credentialsPath;
  std::string caPath;
  std::string site;             // empty: the host name
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

// mqtt://host[:port] (1883) or mqtts://host[:port] (8883); false when the
// text is neither.
bool ParseMqttUrl(const std::string &text, MqttTarget &target);

// The --help text.
const char *RecordUsage();

#endif
