// MqttMessage: what the recorder publishes for one sensor's sample, and the
// broker credentials file. Pure functions: no connection is made here.
#ifndef NIVELIX_MQTTMESSAGE_H
#define NIVELIX_MQTTMESSAGE_H

#include <string>

#include <QDateTime>

// "nivelix/<site>/<reference>-<serial>". Characters a topic level must not
// hold or that subscribers would read as structure (the wildcards + and #,
// the level separator /, control characters, blanks) become "_"; an empty
// site or reference becomes "_" so that no level is empty.
std::string MqttTopic(const std::string &site, const std::string &reference, int serialNumber);

// The JSON payload of one reading:
//   {"time":"<ISO 8601 with zone>","mrad":<number>,"value":<number>,
//    "unit":"<unit name>","failed":false}
// value is the angle in the unit exactly as the acquisition file writes it
// (same rounding) but always with a decimal point; a failed reading has null
// for both numbers and "failed":true.
std::string MqttPayload(const QDateTime &when, bool failed, double mrad, int unit,
                        int rangeClass, int family);

// The time as ISO 8601 with milliseconds and the zone's offset.
std::string IsoTime(const QDateTime &when);

struct MqttCredentials {
  std::string user;
  std::string password;
};

// Reads a credentials file: the user name on its first line, the password on
// its second (line ends LF or CRLF). False with the reason in error when the
// file cannot be read, lacks a user name, or may be read or written by users
// other than its owner and group: a password readable by everyone is not a
// password. The password never appears in error.
bool ReadMqttCredentials(const std::string &path, MqttCredentials &credentials,
                         std::string &error);

#endif
