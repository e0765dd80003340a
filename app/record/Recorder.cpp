#include "Recorder.h"

#include <fcntl.h>
#include <poll.h>
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
#include "FichierReglages.h"
#include "TextePort.h"
#include "MqttMessage.h"
#include "MqttPublisher.h"
#include "ThScrute.h"
#include "UtilCapt.h"
#include "Veille.h"
#include "globales.h"

namespace {

// After the last line, how long the run waits for the broker to take the
// messages still queued before it gives up on them (the file has them).
constexpr int DrainMs = 10000;

// systemd's watchdog, one per process as its notification socket is.
TVeille veille;

// True while the progress line is on the terminal without its line end: a
// message then starts on a line of its own.
bool progressLineOpen = false;

void Say(const std::string &text) {
  std::fprintf(stderr, "%snivelix-record: %s\n", progressLineOpen ? "\n" : "", text.c_str());
  progressLineOpen = false;
}

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
  m_progress = ::isatty(STDERR_FILENO) == 1;
  RecordExit exit = LoadSettingsFile();
  if (exit != RecordExit::Success) return exit;
  if (m_options.mqtt && (exit = StartPublisher()) != RecordExit::Success) return exit;
  if ((exit = FindSensors()) != RecordExit::Success) return exit;

  const QDateTime start = QDateTime::currentDateTime();
  const QString wanted = m_options.filePath.empty()
                             ? m_settingsFile
                             : QString::fromLocal8Bit(m_options.filePath.c_str());
  if (wanted.isEmpty()) {
    Say("the settings name no acquisition file: give one with --file");
    return RecordExit::File;
  }
  std::string error;
  m_path = ReserveFilePath(wanted, start, error);
  if (m_path.isEmpty()) {
    Say(error);
    return RecordExit::File;
  }
  const WriteResult header = m_file.Create(m_path, HeaderText(m_sensors, m_unit));
  if (header.Failed()) {
    Say("cannot write the header of " + Local(m_path) + ": " + WriteProblem(header));
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
      Say(std::to_string(m_publisher->Counts().waiting) +
          " message(s) not acknowledged by the broker at the end; the file holds them");
    const MqttPublisherCounts counts = m_publisher->Counts();
    if (counts.dropped > 0)
      Say(std::to_string(counts.dropped) + " message(s) dropped while the broker was away");
    m_publisher->Stop();
  }
  // Lines still waiting get one last try; those that stay out are said.
  if (m_file.Waiting() > 0) ReportWrite(m_file.Flush(m_path));
  const int64_t notWritten = m_file.Waiting() + m_file.Dropped();
  if (notWritten > 0)
    Say(std::to_string(notWritten) + " line(s) could not be written to " + Local(m_path));
  Say(std::to_string(m_samplesDone - notWritten) + " sample(s) written to " + Local(m_path) +
      (stopped ? " (stopped by a signal)" : ""));
  if (stopped) return RecordExit::Stopped;
  return notWritten > 0 ? RecordExit::File : RecordExit::Success;
}

RecordExit TRecorder::LoadSettingsFile() {
  // Only read: the recorder never makes or changes a settings file, and
  // reads none through a symbolic link, as nivelix3 does.
  SettingsRecord record{};
  const ResultatReglages r = TFichierReglages::Lire(m_options.settingsPath.c_str(), record);
  if (r.Etat != EtatReglages::Ok) {
    Say("settings file " + m_options.settingsPath + ": " + SettingsProblem(r) +
        (r.Etat == EtatReglages::ErreurOuverture && r.Erreur == ENOENT
             ? " (save the settings once with nivelix3, or name one with --settings)"
             : ""));
    return RecordExit::Settings;
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
    Say("the settings name an RS485 bus: give the sensors' addresses with --sensor");
    return RecordExit::Usage;
  }
  if (rs232 && !m_options.addresses.empty())
    Say("the settings name an RS232 line: its one sensor is recorded, --sensor is not used");
  const std::vector<int> addresses = rs232 ? std::vector<int>{1} : m_options.addresses;
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
        found = true;
        break;
      }
      if (!TryFamilyB(r) || r == FailPort) break;
    }
    if (r == FailPort) {
      Say(PortProblem(DiagnostiquerPort(m_port), m_port));
      return RecordExit::Port;
    }
    if (!found) {
      Say(rs232 ? std::string("no sensor answers on the RS232 line of COM") +
                      std::to_string(m_port)
                : "no sensor answers at address " + std::to_string(address) + " on COM" +
                      std::to_string(m_port) +
                      (r == FailConfiguration ? " (its configuration cannot be read)" : ""));
      return RecordExit::NoSensor;
    }
  }
  std::string site = m_options.site;
  if (site.empty()) {
    char host[256] = {};
    site = ::gethostname(host, sizeof host - 1) == 0 ? host : "nivelix";
  }
  for (int i = 0; i < m_sensors.Count(); ++i) {
    const TCapteur &sensor = *m_sensors.GetSensor(i);
    m_topics.push_back(MqttTopic(site, sensor.Data.Reference, sensor.Data.SerialNumber));
  }
  return RecordExit::Success;
}

RecordExit TRecorder::StartPublisher() {
  TMqttPublisher::Setup setup;
  setup.broker = m_options.broker;
  std::string error;
  if (!m_options.credentialsPath.empty()) {
    if (!ReadMqttCredentials(m_options.credentialsPath, setup.credentials, error)) {
      Say(error);
      return RecordExit::Mqtt;
    }
    setup.withCredentials = true;
  }
  setup.caPath = m_options.caPath;
  setup.clientId = "nivelix-record-" + std::to_string(::getpid());
  // A day of samples of every sensor; the sensors are not known yet, so the
  // bus's addresses stand for them (one on RS232).
  const std::size_t sensors = std::max<std::size_t>(m_options.addresses.size(), 1);
  setup.capacity = static_cast<std::size_t>(
      std::max<int64_t>(SecondsPerDay / m_options.periodSeconds, 1) * static_cast<int64_t>(sensors));
  m_publisher = std::make_unique<TMqttPublisher>();
  if (!m_publisher->Start(setup, error)) {
    Say(error);
    return RecordExit::Mqtt;
  }
  return RecordExit::Success;
}

void TRecorder::ReportWrite(const WriteResult &r) {
  if (r.Failed() && !m_writeFailing)
    Say("cannot write " + Local(m_path) + ": " + WriteProblem(r) + "; " +
        std::to_string(r.linesWaiting) + " line(s) waiting, every sample tries again");
  else if (!r.Failed() && m_writeFailing)
    Say(Local(m_path) + " written again: the " + std::to_string(r.linesWritten - 1) +
        " waiting line(s) went to it");
  if (r.linesDropped > m_linesDropped)
    Say(std::to_string(r.linesDropped) + " line(s) could not be kept while " + Local(m_path) +
        " refused them (a day of lines waits at most)");
  m_linesDropped = r.linesDropped;
  m_writeFailing = r.Failed();
}

void TRecorder::TakeSample() {
  std::vector<double> values(static_cast<std::size_t>(m_sensors.Count()), FailedReadingMRad);
  for (int i = 0; i < m_sensors.Count(); ++i) {
    veille.Ping();
    double angle = 0.0;
    if (m_sensors.GetSensor(i)->ReadAngle(angle) == FailSuccess)
      values[static_cast<std::size_t>(i)] = angle;
  }
  const QDateTime when = QDateTime::currentDateTime();
  ReportWrite(m_file.Append(m_path, SampleLine(when, m_dateFormat, m_unit, m_sensors, values)));
  ++m_samplesDone;
  // The sample goes to the broker even while the file refuses it: the line
  // waits in memory for the file, and a watcher still sees the structure.
  if (!m_publisher) return;
  const std::string refusal = m_publisher->Counts().refusal;
  if (refusal != m_refusal && !refusal.empty()) Say("the broker refuses the connection: " + refusal);
  m_refusal = refusal;
  for (int i = 0; i < m_sensors.Count(); ++i) {
    const TCapteur &sensor = *m_sensors.GetSensor(i);
    const double value = values[static_cast<std::size_t>(i)];
    m_publisher->Publish(m_topics[static_cast<std::size_t>(i)],
                         MqttPayload(when, value >= FailedReadingLimitMRad, value, m_unit,
                                     RangeClass(sensor.Data.FullScale), sensor.Data.Family));
  }
}

void TRecorder::ShowProgress(bool last) {
  if (!m_progress) return;
  std::string line = "\rsample " + std::to_string(m_samplesDone);
  if (m_samplesPlanned > 0) line += "/" + std::to_string(m_samplesPlanned);
  if (m_writeFailing) line += "  FILE NOT WRITABLE";
  if (m_publisher) {
    const MqttPublisherCounts c = m_publisher->Counts();
    line += std::string("  broker ") + (c.connected ? "connected" : "unreachable") + ", " +
            std::to_string(c.waiting) + " waiting";
    if (c.dropped > 0) line += ", " + std::to_string(c.dropped) + " dropped";
  }
  line += "   ";
  if (last) line += "\n";
  progressLineOpen = !last;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

bool TRecorder::WaitUntil(int64_t dueMs, int signalFd) {
  for (;;) {
    const int64_t left = dueMs - NowMs();
    pollfd fd{signalFd, POLLIN, 0};
    const int n = ::poll(&fd, 1, static_cast<int>(veille.WaitAtMost(left > 0 ? left : 0)));
    veille.Ping();
    if (n > 0) return true;
    if (n == 0 && left <= 0) return false;
    if (n == 0) continue;
    if (errno != EINTR) return false;
  }
}
