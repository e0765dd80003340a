#include "Journal.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex journalMutex;
bool terminal = false;
// True while the progress line is on the terminal without its line end: a
// message then starts on a line of its own.
bool progressLineOpen = false;

}  // namespace

void SetJournalTerminal(bool isTerminal) {
  std::lock_guard<std::mutex> lock(journalMutex);
  terminal = isTerminal;
}

bool JournalTerminal() {
  std::lock_guard<std::mutex> lock(journalMutex);
  return terminal;
}

void Journal(JournalPriority priority, const std::string &text) {
  std::lock_guard<std::mutex> lock(journalMutex);
  if (terminal)
    std::fprintf(stderr, "%snivelix-record: %s\n", progressLineOpen ? "\n" : "", text.c_str());
  else
    std::fprintf(stderr, "<%d>nivelix-record: %s\n", static_cast<int>(priority), text.c_str());
  std::fflush(stderr);
  progressLineOpen = false;
}

void JournalProgress(const std::string &line, bool last) {
  std::lock_guard<std::mutex> lock(journalMutex);
  if (!terminal) return;
  std::fputs(("\r" + line + (last ? "\n" : "")).c_str(), stderr);
  std::fflush(stderr);
  progressLineOpen = !last;
}
