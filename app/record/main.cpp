// nivelix-record: records inclinometers without a window, for runs that must
// outlive a log-out (a systemd service) and be watched from elsewhere (MQTT).
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "Journal.h"
#include "RecordOptions.h"
#include "Recorder.h"

int main(int argc, char *argv[]) {
  // Blocked before any thread starts, so that every thread inherits the mask
  // and the signals are only ever read from the descriptor, between lines:
  // no work in a handler, and a line is never cut by a signal.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // A broker that drops the connection mid-write must end that write with an
  // error, not the recording.
  ::signal(SIGPIPE, SIG_IGN);
  const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);

  SetJournalTerminal(::isatty(STDERR_FILENO) == 1);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseRecordOptions(args);
  if (!parsed.ok) {
    Journal(JournalPriority::Error, parsed.error + " (nivelix-record --help for the options)");
    return static_cast<int>(RecordExit::Usage);
  }
  if (parsed.options.help) {
    std::fputs(RecordUsage(), stdout);
    return static_cast<int>(RecordExit::Success);
  }
  if (signalFd < 0) {
    std::perror("nivelix-record: signalfd");
    return static_cast<int>(RecordExit::Usage);
  }
  // The locale of the environment, as the program has it: the file's decimal
  // separator and text encoding come from it.
  QCoreApplication application(argc, argv);
  TRecorder recorder(parsed.options);
  return static_cast<int>(recorder.Run(signalFd));
}
