// LigneCommande: nivelix-view's command line, and what it does without a
// window.
//
//   nivelix-view [FILE]                      the window (with FILE opened)
//   nivelix-view --stats FILE                one line per sensor on stdout
//   nivelix-view --png OUT.png FILE [--size WxH]
//   nivelix-view --pdf OUT.pdf FILE
//   nivelix-view --help
//
// A file that cannot be used: one line "FILE: line N: what is wrong" (or
// "FILE: why") on stderr, exit 2, nothing on stdout. Lines that could not be
// read in a usable file: one line per kind on stderr, the rest as usual.
#ifndef NIVELIX_LIGNECOMMANDE_H
#define NIVELIX_LIGNECOMMANDE_H

#include <cstdio>

#include <QSize>
#include <QString>
#include <QStringList>

// Exit codes of nivelix-view. One named family.
enum CodeSortie : int { SortieOk = 0, SortieUsage = 1, SortieFichier = 2 };

// What the command line asks for.
struct OptionsVue {
  enum class Action { Window, Stats, Png, Pdf, Help, Error } action = Action::Window;
  QString file;      // the acquisition file (may be empty for Window)
  QString output;    // OUT.png / OUT.pdf
  QSize size{1600, 900};
  QString error;     // for Error: what is wrong with the arguments
};

// Parses the arguments after the program name.
OptionsVue ParseArguments(const QStringList &arguments);

// The --help text.
QString HelpText();

// Runs --stats on options.file: writes the table to out, problems to err.
// Returns the exit code.
int RunStats(const OptionsVue &options, std::FILE *out, std::FILE *err);
// Runs --png / --pdf: reads the file, then makes the QApplication (on the
// offscreen platform when no display is set) and draws. Returns the exit
// code.
int RunPicture(const OptionsVue &options, std::FILE *err, int &argc, char **argv);

// The window, defined by the window's own unit (FenetreVue.cpp) and called
// by main with a QApplication running when no option asks for work without
// a window. file may be empty. Returns the exit code.
int RunViewerWindow(const QString &file);

#endif
