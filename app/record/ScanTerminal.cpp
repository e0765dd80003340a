#include "ScanTerminal.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Journal.h"
#include "ListeCapteurs.h"
#include "TextePort.h"
#include "ThScrute.h"
#include "UtilCapt.h"
#include "langue.h"

namespace {

class TScanTerminal : public ScanShell {
 public:
  TScanTerminal(int port, bool rs232, int signalFd)
      : m_port(port), m_rs232(rs232), m_signalFd(signalFd) {}

  int32_t ScanPortNumber() const override { return m_port; }
  uint8_t ScanLinkType() const override { return m_rs232 ? ScanLinkRs232 : ScanLinkRs485; }
  TlistCapteur *ScanSensorList() override { return &m_sensors; }
  std::string ScanTextOf(ScanText text) const override {
    return ScanMessageText(text).toStdString();
  }
  std::string ScanPortTroubleText(const DiagnosticPort &port) const override {
    m_portTrouble = true;
    return PortTroubleText(port).toLocal8Bit().toStdString();
  }
  void SetScanStatus(const std::string &text) override { m_status = text; }
  void SetScanProgress(int32_t percent) override {
    if (percent > 0)
      JournalProgress("COM" + std::to_string(m_port) + (m_rs232 ? " RS232: " : " RS485: ") +
                          std::to_string(percent) + " %  " + m_status + "   ",
                      false);
  }
  void SetScanState(bool) override {}
  void AppendScanLine(const std::string &) override {}
  void DiscardAcquisitionFrame() override {}
  void AddSensorReadingItem(TCapteur *) override {}
  void ProcessPendingEvents() override {
    // A stop signal is what a Stop click is to the program's scan.
    pollfd fd{m_signalFd, POLLIN, 0};
    if (!m_stopped && ::poll(&fd, 1, 0) > 0) {
      signalfd_siginfo info{};
      [[maybe_unused]] const ssize_t n = ::read(m_signalFd, &info, sizeof info);
      m_stopped = true;
      RequestStop();
    }
  }

  bool PortTrouble() const { return m_portTrouble; }
  bool Stopped() const { return m_stopped; }
  const std::string &Status() const { return m_status; }
  const TlistCapteur &Sensors() const { return m_sensors; }

 private:
  int m_port;
  bool m_rs232;
  int m_signalFd;
  TlistCapteur m_sensors;
  std::string m_status;
  mutable bool m_portTrouble = false;
  bool m_stopped = false;
};

}  // namespace

RecordExit ScanOnTerminal(int port, bool rs232, int unit, int signalFd) {
  TScanTerminal terminal(port, rs232, signalFd);
  SetScanShell(&terminal);
  Journal(JournalPriority::Info, "scanning COM" + std::to_string(port) +
                                     (rs232 ? " (RS232)" : " (RS485, addresses 1 to 255, about a minute)"));
  ScanLine();
  SetScanShell(nullptr);
  JournalProgress("", true);
  const TlistCapteur &sensors = terminal.Sensors();
  for (int i = 0; i < sensors.Count(); ++i) {
    const SensorData &d = sensors.GetSensor(i)->Data;
    std::printf("%d\t%s\t%s\t%d\t%s\n", d.Identifier, d.Family == 1 ? "KV72500" : "KV72800",
                d.Reference.c_str(), d.SerialNumber,
                FormatAngleWithUnit(RangeClass(d.FullScale), unit, d.Family, d.FullScale).c_str());
  }
  std::fflush(stdout);
  if (terminal.PortTrouble()) {
    Journal(JournalPriority::Error, terminal.Status());
    return RecordExit::Port;
  }
  Journal(sensors.Count() > 0 ? JournalPriority::Info : JournalPriority::Warning,
          sensors.Count() > 0 ? std::to_string(sensors.Count()) + " sensor(s) found"
                              : terminal.Status());
  if (terminal.Stopped()) return RecordExit::Stopped;
  return sensors.Count() > 0 ? RecordExit::Success : RecordExit::NoSensor;
}
