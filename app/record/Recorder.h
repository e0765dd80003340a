// Recorder: the unattended acquisition run of nivelix-record. Reads the
// settings, finds the named sensors, writes the acquisition file every period
// on one thread, and hands each sample to the MQTT publisher after its line
// is in the file.
#ifndef NIVELIX_RECORDER_H
#define NIVELIX_RECORDER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QDateTime>
#include <QString>

#include "FichierAcquisition.h"
#include "ListeCapteurs.h"
#include "MqttMessage.h"
#include "RecordOptions.h"

class TMqttPublisher;

// The path the run writes: path itself when no file has that name, else the
// name with the start time added before its extension ("data.txt" ->
// "data-20250131-142501.txt"), then "-2", "-3"... The file is created empty
// (exclusively, so a file appearing meanwhile is never taken over); an empty
// result and the reason in error when none could be created.
QString ReserveFilePath(const QString &path, const QDateTime &start, std::string &error);

class TRecorder {
 public:
  explicit TRecorder(RecordOptions options);
  ~TRecorder();
  TRecorder(const TRecorder &) = delete;
  TRecorder &operator=(const TRecorder &) = delete;

  // The whole run; SIGTERM and SIGINT must already be blocked in every thread
  // (signalFd reads them). Messages go to standard error.
  RecordExit Run(int signalFd);

 private:
  // The line and the file's format: from the settings file, or from the
  // command line (--port and the rest).
  RecordExit LoadSettings();
  RecordExit FindSensors();
  RecordExit StartPublisher();
  // One line: reads every sensor, writes the line, then publishes it.
  void TakeSample();
  // Says on standard error when the file starts or stops refusing lines.
  void ReportWrite(const WriteResult &r);
  // Says when the port is lost or back, and when a sensor stops or starts
  // answering: once per change, never once per sample.
  void ReportReadings(const std::vector<uint8_t> &results);
  void ShowProgress(bool last);
  // Waits until the monotonic time due (ms) or a signal; true on a signal.
  bool WaitUntil(int64_t dueMs, int signalFd);

  RecordOptions m_options;
  TlistCapteur m_sensors;
  int m_unit = 0;
  int m_dateFormat = 0;
  int m_port = 1;
  bool m_rs232 = false;
  QString m_settingsFile;  // the acquisition file the settings name
  QString m_path;
  // One writer for the whole run, as the program has: it remembers a line
  // cut short by a failure.
  TFichierAcquisition m_file;
  std::unique_ptr<TMqttPublisher> m_publisher;
  std::vector<std::string> m_topics;
  std::vector<MqttIdentity> m_identities;
  std::vector<int> m_addresses;  // of the sensors recorded, in column order
  std::vector<bool> m_silent;    // sensors said not to answer
  bool m_portLost = false;
  bool m_saidDropping = false;  // messages pushed out of the full queue
  int64_t m_samplesDone = 0;
  int64_t m_samplesPlanned = 0;  // 0: until stopped
  bool m_writeFailing = false;
  int64_t m_linesDropped = 0;  // beyond the waiting limit, said when it grows
  bool m_progress = false;
};

#endif
