#include "MqttMessage.h"

#include <sys/stat.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <fstream>

#include "UtilCapt.h"

namespace {

std::string TopicLevel(const std::string &text) {
  std::string level = text;
  for (char &c : level) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '+' || c == '#' || c == '/' || u < 0x20 || u == 0x7F || c == ' ') c = '_';
  }
  return level.empty() ? "_" : level;
}

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

std::string MqttTopic(const std::string &site, const std::string &reference, int serialNumber) {
  return "nivelix/" + TopicLevel(site) + "/" + TopicLevel(reference) + "-" +
         std::to_string(serialNumber);
}

std::string IsoTime(const QDateTime &when) {
  // A local time's ISO text carries no zone; the same instant as an offset
  // time does.
  const QDateTime offset = when.toOffsetFromUtc(when.offsetFromUtc());
  return offset.toString(Qt::ISODateWithMs).toStdString();
}

std::string MqttPayload(const QDateTime &when, bool failed, double mrad, int unit,
                        int rangeClass, int family) {
  const std::string mradText = failed ? "null" : JsonNumber(mrad);
  const std::string valueText =
      failed ? "null" : JsonFromFormatted(FormatAngle(rangeClass, unit, family, mrad));
  return "{\"time\":" + JsonString(IsoTime(when)) + ",\"mrad\":" + mradText +
         ",\"value\":" + valueText + ",\"unit\":" + JsonString(AngleUnitName(unit)) +
         ",\"failed\":" + (failed ? "true" : "false") + "}";
}

bool ReadMqttCredentials(const std::string &path, MqttCredentials &credentials,
                         std::string &error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot read credentials file " + path + ": " + std::strerror(errno);
    return false;
  }
  if ((st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    error = "credentials file " + path +
            " may be read or written by every user; make it private (chmod 600 or 640)";
    return false;
  }
  std::ifstream in(path);
  if (!in) {
    error = "cannot read credentials file " + path + ": " + std::strerror(errno);
    return false;
  }
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
