// MqttMessage: what the recorder publishes for one sensor's sample, and the
// broker credentials file. Pure functions: no connection is made here.
#ifndef NIVELIX_MQTTMESSAGE_H
#define NIVELIX_MQTTMESSAGE_H

#include <cstdint>
#include <string>

#include <QDateTime>

// One level of a topic made of any bytes: valid UTF-8 (brokers refuse a
// topic that is not, and close the connection over it), in which every byte
// that is not part of a whole character, control characters, blanks and
// what subscribers would read as structure (the wildcards + and #, the level
// separator /) become "_"; an empty text becomes "_" so that no level is
// empty.
std::string MqttTopicLevel(const std::string &text);

// The sensor's level: "<reference>-<serial>", the reference made a level.
std::string MqttSensorLevel(const std::string &reference, int serialNumber);

// "nivelix/<site>/<reference>-<serial>", each level made with MqttTopicLevel.
std::string MqttTopic(const std::string &site, const std::string &reference, int serialNumber);

// "nivelix/<site>/status": "online" while the recorder is connected,
// "offline" after a clean stop or, as the connection's last will, once the
// broker misses it. Never a sensor's topic: those end in "-<serial>".
std::string MqttStatusTopic(const std::string &site);

// Who a message is about, as the topic names it, so that a consumer that
// stores messages needs no topic parsing.
struct MqttIdentity {
  std::string site;    // the topic's site level
  std::string sensor;  // the topic's sensor level, "<reference>-<serial>"
  int address = 0;     // on the bus (RS485), or the sensor's identifier (RS232)
};

// The JSON payload of one reading:
//   {"site":"<site>","sensor":"<reference>-<serial>","address":<n>,"seq":<n>,
//    "time":"<ISO 8601 with zone>","mrad":<number>,"value":<number>,
//    "unit":"<unit name>","failed":false}
// seq is the sample's number in the run, from 1: a gap or a repeat shows a
// lost or replayed message. value is the angle in the unit exactly as the
// acquisition file writes it (same rounding) but always with a decimal
// point; a failed reading has null for both numbers and "failed":true.
std::string MqttPayload(const MqttIdentity &who, int64_t seq, const QDateTime &when,
                        bool failed, double mrad, int unit, int rangeClass, int family);

// The time as ISO 8601 with milliseconds and the zone's offset.
std::string IsoTime(const QDateTime &when);

struct MqttCredentials {
  std::string user;
  std::string password;
};

// Reads a credentials file: the user name on its first line, the password on
// its second (line ends LF or CRLF). False with the reason in error when the
// file cannot be read, is not a regular file, lacks a user name, or may be
// read or written by users other than its owner and group: a password
// readable by everyone is not a password. The checks are made on the open
// descriptor that is then read. The password never appears in error.
bool ReadMqttCredentials(const std::string &path, MqttCredentials &credentials,
                         std::string &error);

#endif
