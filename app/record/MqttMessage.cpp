#include "MqttMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <sstream>

#include "UtilCapt.h"

namespace {

// The length of the UTF-8 sequence at text[at] when it is a whole, shortest
// encoding of a scalar value (no surrogate, nothing above U+10FFFF); 0 when
// the bytes there are not UTF-8.
std::size_t Utf8SequenceAt(const std::string &text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    value = (value << 6) | (byte(at + i) & 0x3Fu);
  }
  const uint32_t shortest = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (value < shortest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string MqttTopicLevel(const std::string &text) {
  // Brokers refuse a topic that is not UTF-8 (and close the connection over
  // it): every byte that is not part of a whole character becomes "_", as do
  // the characters subscribers would read as structure or not see.
  std::string level;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    const unsigned char u = static_cast<unsigned char>(text[at]);
    const bool c1Control = length == 2 && u == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (length == 0 || c1Control || u < 0x20 || u == 0x7F || u == ' ' || u == '+' || u == '#' ||
        u == '/')
      level += '_';
    else
      level.append(text, at, length);
    at += length == 0 ? 1 : length;
  }
  return level.empty() ? "_" : level;
}

namespace {

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The shortest text that reads back as the same double, whatever the locale.
std::string JsonNumber(double x) {
  if (!std::isfinite(x)) return "null";
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, r.ptr);
}

// The file's text of the value with the locale's decimal separator made a
// point; "null" for what JSON has no number for.
std::string JsonFromFormatted(const std::string &formatted) {
  if (formatted.empty() || formatted == "INF" || formatted == "-INF" || formatted == "NAN")
    return "null";
  std::string text = formatted;
  const char *point = std::localeconv()->decimal_point;
  const std::size_t width = point ? std::strlen(point) : 0;
  if (width > 0 && std::strcmp(point, ".") != 0) {
    const std::size_t at = text.find(point);
    if (at != std::string::npos) text.replace(at, width, ".");
  }
  return text;
}

}  // namespace

std::string MqttSensorLevel(const std::string &reference, int serialNumber) {
  return MqttTopicLevel(reference) + "-" + std::to_string(serialNumber);
}

std::string MqttTopic(const std::string &site, const std::string &reference, int serialNumber) {
  return "nivelix/" + MqttTopicLevel(site) + "/" + MqttSensorLevel(reference, serialNumber);
}

std::string MqttStatusTopic(const std::string &site) {
  return "nivelix/" + MqttTopicLevel(site) + "/status";
}

std::string IsoTime(const QDateTime &when) {
  // A local time's ISO text carries no zone; the same instant as an offset
  // time does.
  const QDateTime offset = when.toOffsetFromUtc(when.offsetFromUtc());
  return offset.toString(Qt::ISODateWithMs).toStdString();
}

std::string MqttPayload(const MqttIdentity &who, int64_t seq, const QDateTime &when,
                        bool failed, double mrad, int unit, int rangeClass, int family) {
  const std::string mradText = failed ? "null" : JsonNumber(mrad);
  const std::string valueText =
      failed ? "null" : JsonFromFormatted(FormatAngle(rangeClass, unit, family, mrad));
  return "{\"site\":" + JsonString(who.site) + ",\"sensor\":" + JsonString(who.sensor) +
         ",\"address\":" + std::to_string(who.address) + ",\"seq\":" + std::to_string(seq) +
         ",\"time\":" + JsonString(IsoTime(when)) + ",\"mrad\":" + mradText +
         ",\"value\":" + valueText + ",\"unit\":" + JsonString(AngleUnitName(unit)) +
         ",\"failed\":" + (failed ? "true" : "false") + "}";
}

bool ReadMqttCredentials(const std::string &path, MqttCredentials &credentials,
                         std::string &error) {
  // Checked on the descriptor that is read, so that what is read is what was
  // checked, whatever is renamed over the name meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot read credentials file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    error = "cannot read credentials file " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = "credentials file " + path + " is not a regular file";
    ok = false;
  } else if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    error = "credentials file " + path +
            " may be read or written by every user; make it private (chmod 600 or 640)";
    ok = false;
  }
  // Two short lines: anything beyond a few kilobytes is not such a file.
  char buffer[4096];
  while (ok && text.size() < 65536) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read credentials file " + path + ": " + std::strerror(errno);
      ok = false;
    }
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) return false;
  std::istringstream in(text);
  MqttCredentials c;
  std::getline(in, c.user);
  std::getline(in, c.password);
  for (std::string *s : {&c.user, &c.password})
    if (!s->empty() && s->back() == '\r') s->pop_back();
  if (c.user.empty()) {
    error = "credentials file " + path + " has no user name on its first line";
    return false;
  }
  credentials = c;
  return true;
}
