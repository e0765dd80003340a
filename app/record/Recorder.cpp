#include "Recorder.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "Capteur.h"
#include "FichierAcquisition.h"
#include "DiagnosticPort.h"
#include "Journal.h"
#include "ScanTerminal.h"
#include "FichierReglages.h"
#include "TextePort.h"
#include "MqttMessage.h"
#include "MqttPublisher.h"
#include "ThScrute.h"
#include "UtilCapt.h"
#include "Veille.h"
#include "globales.h"
#include "langue.h"

namespace {

// After the last line, how long the run waits for the broker to take the
// messages still queued before it gives up on them (the file has them).
constexpr int DrainMs = 10000;

// What stops the run, what is wrong and what is back.
void SayError(const std::string &text) { Journal(JournalPriority::Error, text); }
void SayWarning(const std::string &text) { Journal(JournalPriority::Warning, text); }
void Say(const std::string &text) { Journal(JournalPriority::Info, text); }

// systemd's watchdog, one per process as its notification socket is.
TVeille veille;

// poll takes an int of milliseconds: a longer wait (a period of 24.86 days
// or more) is made of waits of at most an hour.
constexpr int64_t LongestPollMs = 3600 * 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Local(const QString &text) { return text.toLocal8Bit().toStdString(); }

// The cause of a refused write and the system's words for it.
std::string WriteProblem(const WriteResult &r) {
  return Local(WriteCauseText(r.cause)) +
         (r.systemError != 0 ? std::string(" (") + std::strerror(r.systemError) + ")" : "");
}

// What went wrong with the settings file, for a line on standard error.
std::string SettingsProblem(const ResultatReglages &r) {
  const std::string cause = r.Erreur != 0 ? std::string(": ") + std::strerror(r.Erreur) : "";
  switch (r.Etat) {
    case EtatReglages::Ok:
    case EtatReglages::Cree: return "read";
    case EtatReglages::PasOrdinaire: return "a symbolic link or not a regular file; not read";
    case EtatReglages::ErreurOuverture:
    case EtatReglages::ErreurCreation: return "cannot be opened" + cause;
    case EtatReglages::ErreurLecture:
    case EtatReglages::ErreurEcriture:
    case EtatReglages::ErreurFermeture: return "cannot be read" + cause;
    case EtatReglages::Court: return "holds less than one whole record";
  }
  return "cannot be read" + cause;
}

// Why the port could not be used, in the program's own words: the device
// and its trouble, or who holds it.
std::string PortProblem(const DiagnosticPort &port, int portNumber) {
  const QString trouble = PortTroubleText(port);
  if (!trouble.isEmpty()) return Local(trouble);
  return "cannot open serial port COM" + std::to_string(portNumber) + " (" + port.Chemin + ")";
}

std::string HostName() {
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0' ? host : "nivelix";
}

}  // namespace

QString ReserveFilePath(const QString &path, const QDateTime &start, std::string &error) {
  const QFileInfo info(path);
  const QString stamp = start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QString suffix = info.suffix();
  const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    QString candidate = path;
    if (attempt > 0) {
      candidate = base + "-" + stamp + (attempt > 1 ? "-" + QString::number(attempt) : QString());
      if (!suffix.isEmpty()) candidate += "." + suffix;
    }
    const int fd = ::open(QFile::encodeName(candidate).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) {
      error = "cannot create " + Local(candidate) + ": " + std::strerror(errno);
      return QString();
    }
  }
  error = "cannot find a free name for " + Local(path);
  return QString();
}

TRecorder::TRecorder(RecordOptions options) : m_options(std::move(options)) {}

TRecorder::~TRecorder() = default;

RecordExit TRecorder::Run(int signalFd) {
  m_progress = JournalTerminal();
  RecordExit exit = LoadSettings();
  if (exit != RecordExit::Success) return exit;
  if (m_options.scan) return ScanOnTerminal(m_port, m_rs232, m_unit, signalFd);
  if (m_options.mqtt && (exit = StartPublisher()) != RecordExit::Success) return exit;
  if ((exit = FindSensors()) != RecordExit::Success) return exit;

  const QDateTime start = QDateTime::currentDateTime();
  const QString wanted = m_options.filePath.empty()
                             ? m_settingsFile
                             : QString::fromLocal8Bit(m_options.filePath.c_str());
  if (wanted.isEmpty()) {
    SayError("the settings name no acquisition file: give one with --file");
    return RecordExit::File;
  }
  std::string error;
  m_path = ReserveFilePath(wanted, start, error);
  if (m_path.isEmpty()) {
    SayError(error);
    return RecordExit::File;
  }
  const WriteResult header = m_file.Create(m_path, HeaderText(m_sensors, m_unit));
  if (header.Failed()) {
    SayError("cannot write the header of " + Local(m_path) + ": " + WriteProblem(header));
    // The file was made by this run a moment ago and holds nothing of use.
    QFile::remove(m_path);
    return RecordExit::File;
  }
  // As many lines as a day of samples wait in memory while the file cannot
  // be written, as in the program.
  m_file.SetWaitingLimit(TFichierAcquisition::DayOfLines(
      static_cast<int32_t>(std::min<int64_t>(m_options.periodSeconds, SecondsPerDay))));
  m_samplesPlanned =
      m_options.durationSeconds > 0 ? m_options.durationSeconds / m_options.periodSeconds : 0;
  Say("recording " + std::to_string(m_sensors.Count()) + " sensor(s) on COM" +
      std::to_string(m_port) + " every " + std::to_string(m_options.periodSeconds) +
      " s into " + Local(m_path) +
      (m_samplesPlanned > 0 ? ", " + std::to_string(m_samplesPlanned) + " samples" : "") +
      (m_options.mqtt ? ", publishing to " + m_options.broker.host + ":" +
                            std::to_string(m_options.broker.port)
                      : ""));

  // Samples fall due every period from the start, as the acquisition's
  // timer has them; a line that took longer than a period is followed at
  // once by the next, and the moments missed are not made up in a burst.
  const int64_t periodMs = m_options.periodSeconds * 1000;
  int64_t dueMs = NowMs() + periodMs;
  bool stopped = false;
  while (m_samplesPlanned == 0 || m_samplesDone < m_samplesPlanned) {
    if (WaitUntil(dueMs, signalFd)) {
      stopped = true;
      break;
    }
    TakeSample();
    veille.Ready();
    dueMs = std::max(dueMs + periodMs, NowMs());
    ShowProgress(false);
    // A signal that came while the line was being taken ends the run now
    // that the line is whole.
    pollfd fd{signalFd, POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0) {
      stopped = true;
      break;
    }
  }
  ShowProgress(true);
  if (m_publisher) {
    if (!m_publisher->Drain(DrainMs))
      SayWarning(std::to_string(m_publisher->Counts().waiting) +
                 " message(s) not acknowledged by the broker at the end; the file holds them");
    m_publisher->Stop();
    const MqttPublisherCounts counts = m_publisher->Counts();
    if (counts.dropped > 0)
      SayWarning(std::to_string(counts.dropped) +
                 " message(s) dropped while the broker was away (the file holds them)");
    if (counts.refused > 0)
      SayWarning(std::to_string(counts.refused) +
                 " message(s) refused by the MQTT library and dropped (the file holds them)");
  }
  // Lines still waiting get one last try; those that stay out are said.
  if (m_file.Waiting() > 0) ReportWrite(m_file.Flush(m_path));
  const int64_t notWritten = m_file.Waiting() + m_file.Dropped();
  if (notWritten > 0)
    SayError(std::to_string(notWritten) + " line(s) could not be written to " + Local(m_path));
  Say(std::to_string(m_samplesDone - notWritten) + " sample(s) written to " + Local(m_path) +
      (stopped ? " (stopped by a signal)" : ""));
  if (stopped) return RecordExit::Stopped;
  return notWritten > 0 ? RecordExit::File : RecordExit::Success;
}

RecordExit TRecorder::LoadSettings() {
  SettingsRecord record{};
  if (m_options.portNumber != 0) {
    // Set up from the command line: no settings file is read. What is not
    // given is the program's default: Deg, year/month/day, "Acquisition.txt"
    // in the current folder.
    record.AngleUnit = UnitDeg;
    record.DateFormat = DateYearMonthDay;
    SetShortStringText(record.AcquisitionFile, Langue(TxtAcquisition) + QStringLiteral(".txt"));
    record.PortNumber = m_options.portNumber;
    record.LinkType = static_cast<uint8_t>(m_options.linkType >= 0 ? m_options.linkType : LinkRs485);
    if (m_options.unit >= 0) record.AngleUnit = static_cast<uint8_t>(m_options.unit);
    if (m_options.dateFormat >= 0) record.DateFormat = static_cast<uint8_t>(m_options.dateFormat);
  } else {
    // Only read: the recorder never makes or changes a settings file, and
    // reads none through a symbolic link, as nivelix3 does.
    const ResultatReglages r = TFichierReglages::Lire(m_options.settingsPath.c_str(), record);
    if (r.Etat != EtatReglages::Ok) {
      SayError("settings file " + m_options.settingsPath + ": " + SettingsProblem(r) +
               (r.Etat == EtatReglages::ErreurOuverture && r.Erreur == ENOENT
                    ? " (save the settings once with nivelix3, or name one with --settings, or "
                      "give the line with --port)"
                    : ""));
      return RecordExit::Settings;
    }
    // nivelix3 loads any record and shows what it can of it; a recording
    // needs a port, a link and a unit that exist, or it would record
    // something else than what was set up.
    std::string wrong;
    if (record.PortNumber < FirstComPort || record.PortNumber > LastComPort)
      wrong = "port number " + std::to_string(record.PortNumber) + " is not COM1..COM8";
    else if (record.LinkType != LinkRs485 && record.LinkType != LinkRs232)
      wrong = "link type " + std::to_string(record.LinkType) + " is neither RS485 nor RS232";
    else if (record.AngleUnit > UnitMmPerM)
      wrong = "unit " + std::to_string(record.AngleUnit) + " is none of mRad, Deg, %, mm/m";
    else if (record.DateFormat > DateYearMonthDay)
      wrong = "date format " + std::to_string(record.DateFormat) + " is none of the three";
    if (!wrong.empty()) {
      SayError("settings file " + m_options.settingsPath + " cannot be used: its " + wrong +
               " (save the settings again with nivelix3, or give the line with --port)");
      return RecordExit::Settings;
    }
  }
  m_unit = RecordDisplayUnit(record);
  m_dateFormat = record.DateFormat;
  m_port = record.PortNumber;
  m_rs232 = record.LinkType == LinkRs232;
  m_settingsFile = ShortStringText(record.AcquisitionFile);
  return RecordExit::Success;
}

RecordExit TRecorder::FindSensors() {
  const bool rs232 = m_rs232;
  if (!rs232 && m_options.addresses.empty()) {
    SayError("the line is an RS485 bus: give the sensors' addresses with --sensor "
             "(nivelix-record --scan lists them)");
    return RecordExit::Usage;
  }
  if (rs232 && !m_options.addresses.empty())
    SayWarning("the line is RS232: its one sensor is recorded, --sensor is not used");
  const std::vector<int> addresses = rs232 ? std::vector<int>{1} : m_options.addresses;
  std::vector<int> missing;
  for (int address : addresses) {
    veille.Ping();
    // The family decided as the scan decides it.
    uint8_t r = FailPort;
    bool found = false;
    for (ScanFamily family : {ScanFamily::A, ScanFamily::B}) {
      const uint8_t linkType = rs232 ? ScanLinkRs232 : ScanLinkRs485;
      std::unique_ptr<TCapteur> sensor = NewScanSensor(family, m_port, linkType, address);
      r = sensor->ReadAll();
      sensor->ClosePort();
      if (KeptByScan(r, linkType)) {
        m_sensors.AddSensor(sensor->Data, sensor->Port);
        m_addresses.push_back(rs232 ? sensor->Data.Identifier : address);
        found = true;
        break;
      }
      if (!TryFamilyB(r) || r == FailPort) break;
    }
    if (r == FailPort) {
      SayError(PortProblem(DiagnostiquerPort(m_port), m_port));
      return RecordExit::Port;
    }
    if (!found) {
      if (rs232) {
        SayError("no sensor answers on the RS232 line of COM" + std::to_string(m_port));
        return RecordExit::NoSensor;
      }
      // The others are recorded; the file's columns are the sensors found.
      SayWarning("no sensor answers at address " + std::to_string(address) + " on COM" +
                 std::to_string(m_port) +
                 (r == FailConfiguration ? " (its configuration cannot be read)" : "") +
                 "; it is left out of this run");
      missing.push_back(address);
    }
  }
  if (m_sensors.Count() == 0) {
    SayError("none of the sensors named answers on COM" + std::to_string(m_port) +
             ": nothing to record");
    return RecordExit::NoSensor;
  }
  m_silent.assign(static_cast<std::size_t>(m_sensors.Count()), false);
  std::string site = m_options.site;
  if (site.empty()) site = HostName();
  for (int i = 0; i < m_sensors.Count(); ++i) {
    const TCapteur &sensor = *m_sensors.GetSensor(i);
    m_topics.push_back(MqttTopic(site, sensor.Data.Reference, sensor.Data.SerialNumber));
    m_identities.push_back({MqttTopicLevel(site),
                            MqttSensorLevel(sensor.Data.Reference, sensor.Data.SerialNumber),
                            m_addresses[static_cast<std::size_t>(i)]});
  }
  return RecordExit::Success;
}

RecordExit TRecorder::StartPublisher() {
  TMqttPublisher::Setup setup;
  setup.broker = m_options.broker;
  std::string error;
  if (!m_options.credentialsPath.empty()) {
    if (!ReadMqttCredentials(m_options.credentialsPath, setup.credentials, error)) {
      SayError(error);
      return RecordExit::Mqtt;
    }
    setup.withCredentials = true;
    if (!m_options.broker.tls && !setup.credentials.password.empty())
      SayWarning("the password goes to " + m_options.broker.host +
                 " unencrypted (mqtt://): anyone on the way can read it; use mqtts:// "
                 "where the network is not your own");
  }
  setup.caPath = m_options.caPath;
  const std::string site = m_options.site.empty() ? HostName() : m_options.site;
  // Unique per host and instance: two recorders with one id would push each
  // other off the broker for ever. The host, the site and the process name
  // the instance; a random part guards against cloned machines, where host
  // names and the process numbers of a boot are alike.
  uint32_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
    random = static_cast<uint32_t>(NowMs()) ^ static_cast<uint32_t>(::getpid());
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", random);
  setup.clientId = "nivelix-record-" + MqttTopicLevel(HostName()) + "-" + MqttTopicLevel(site) +
                   "-" + std::to_string(::getpid()) + "-" + suffix;
  setup.statusTopic = MqttStatusTopic(site);
  setup.keepAliveSeconds = m_options.keepAliveSeconds;
  setup.report = [](JournalPriority priority, const std::string &text) { Journal(priority, text); };
  // A day of samples of every sensor; the sensors are not known yet, so the
  // bus's addresses stand for them (one on RS232).
  const std::size_t sensors = std::max<std::size_t>(m_options.addresses.size(), 1);
  setup.capacity = static_cast<std::size_t>(
      std::max<int64_t>(SecondsPerDay / m_options.periodSeconds, 1) * static_cast<int64_t>(sensors));
  m_publisher = std::make_unique<TMqttPublisher>();
  if (!m_publisher->Start(setup, error)) {
    SayError(error);
    return RecordExit::Mqtt;
  }
  return RecordExit::Success;
}

void TRecorder::ReportWrite(const WriteResult &r) {
  if (r.Failed() && !m_writeFailing)
    SayWarning("cannot write " + Local(m_path) + ": " + WriteProblem(r) + "; " +
               std::to_string(r.linesWaiting) + " line(s) waiting, every sample tries again");
  else if (!r.Failed() && m_writeFailing)
    Say(Local(m_path) + " written again: the " + std::to_string(r.linesWritten - 1) +
        " waiting line(s) went to it");
  if (r.linesDropped > m_linesDropped)
    SayError(std::to_string(r.linesDropped) + " line(s) could not be kept while " +
             Local(m_path) + " refused them (a day of lines waits at most)");
  m_linesDropped = r.linesDropped;
  m_writeFailing = r.Failed();
}

void TRecorder::ReportReadings(const std::vector<uint8_t> &results) {
  // The port first: when it is gone every reading fails for that one reason.
  const bool portLost = std::all_of(results.begin(), results.end(),
                                    [](uint8_t r) { return r == FailPort; });
  if (portLost && !m_portLost)
    SayWarning(PortProblem(DiagnostiquerPort(m_port), m_port) +
               "; samples are recorded with empty fields until it is back");
  else if (!portLost && m_portLost)
    Say("COM" + std::to_string(m_port) + " is back");
  m_portLost = portLost;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const bool silent = results[i] != FailSuccess && !portLost;
    const bool wasSilent = m_silent[i];
    m_silent[i] = portLost ? m_silent[i] : silent;
    if (portLost || silent == wasSilent) continue;
    const std::string who = "the sensor at address " + std::to_string(m_addresses[i]) + " (" +
                            m_identities[i].sensor + ")";
    if (silent)
      SayWarning(who + " does not answer (failure " + std::to_string(results[i]) +
                 "); its fields stay empty until it answers");
    else
      Say(who + " answers again");
  }
}

void TRecorder::TakeSample() {
  std::vector<double> values(static_cast<std::size_t>(m_sensors.Count()), FailedReadingMRad);
  std::vector<uint8_t> results(values.size(), FailSuccess);
  for (int i = 0; i < m_sensors.Count(); ++i) {
    veille.Ping();
    double angle = 0.0;
    results[static_cast<std::size_t>(i)] = m_sensors.GetSensor(i)->ReadAngle(angle);
    if (results[static_cast<std::size_t>(i)] == FailSuccess)
      values[static_cast<std::size_t>(i)] = angle;
  }
  const QDateTime when = QDateTime::currentDateTime();
  ReportWrite(m_file.Append(m_path, SampleLine(when, m_dateFormat, m_unit, m_sensors, values)));
  ++m_samplesDone;
  ReportReadings(results);
  // The sample goes to the broker even while the file refuses it: the line
  // waits in memory for the file, and a watcher still sees the structure.
  if (!m_publisher) return;
  for (int i = 0; i < m_sensors.Count(); ++i) {
    const TCapteur &sensor = *m_sensors.GetSensor(i);
    const std::size_t k = static_cast<std::size_t>(i);
    m_publisher->Publish(m_topics[k],
                         MqttPayload(m_identities[k], m_samplesDone, when,
                                     values[k] >= FailedReadingLimitMRad, values[k], m_unit,
                                     RangeClass(sensor.Data.FullScale), sensor.Data.Family));
  }
  // Said when it starts; the count is given at the end.
  if (!m_saidDropping && m_publisher->Counts().dropped > 0) {
    SayWarning("a day of messages waits for the broker: the oldest make room for the new ones "
               "(the file holds them all)");
    m_saidDropping = true;
  }
}

void TRecorder::ShowProgress(bool last) {
  if (!m_progress) return;
  std::string line = "sample " + std::to_string(m_samplesDone);
  if (m_samplesPlanned > 0) line += "/" + std::to_string(m_samplesPlanned);
  if (m_writeFailing) line += "  FILE NOT WRITABLE";
  if (m_portLost) line += "  PORT LOST";
  if (m_publisher) {
    const MqttPublisherCounts c = m_publisher->Counts();
    line += std::string("  broker ") + (c.connected ? "connected" : "unreachable") + ", " +
            std::to_string(c.waiting) + " waiting";
    if (c.dropped + c.refused > 0) line += ", " + std::to_string(c.dropped + c.refused) + " dropped";
  }
  JournalProgress(line + "   ", last);
}

bool TRecorder::WaitUntil(int64_t dueMs, int signalFd) {
  for (;;) {
    const int64_t left = dueMs - NowMs();
    pollfd fd{signalFd, POLLIN, 0};
    // poll takes an int of milliseconds; the watchdog's interval keeps each
    // wait far below an hour as well.
    const int n = ::poll(&fd, 1, static_cast<int>(veille.WaitAtMost(std::clamp<int64_t>(left, 0, LongestPollMs))));
    veille.Ping();
    if (n > 0) return true;
    if (n == 0 && left <= 0) return false;
    if (n == 0) continue;
    if (errno != EINTR) return false;
  }
}
