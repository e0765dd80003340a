// Journal: what nivelix-record says, one line each on standard error, with
// the priority prefix that journald reads ("<3>" error, "<4>" warning, "<6>"
// information), so that `journalctl -p warning` shows the trouble alone. On a
// terminal the prefixes are left out and a progress line may stand between
// the messages. Safe to call from any thread.
#ifndef NIVELIX_JOURNAL_H
#define NIVELIX_JOURNAL_H

#include <string>

enum class JournalPriority : int { Error = 3, Warning = 4, Info = 6 };

// Whether standard error is a terminal, looked at once at the start: no
// prefixes, and progress lines, then.
void SetJournalTerminal(bool terminal);
bool JournalTerminal();

// One line "nivelix-record: text", after the progress line if one is open.
void Journal(JournalPriority priority, const std::string &text);

// Rewrites the progress line (terminal only); last ends it.
void JournalProgress(const std::string &line, bool last);

#endif
