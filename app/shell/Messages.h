// Messages: the one way a window shows a message box, so that tests can
// answer boxes without a nested event loop.
#ifndef NIVELIX_MESSAGES_H
#define NIVELIX_MESSAGES_H

#include <functional>

#include <QMessageBox>
#include <QString>

class QWidget;

// The four kinds of message box.
enum class MessageKind { Warning, Error, Information, Confirmation };

// Shows a modal box of kind with text and buttons and returns the button the
// user chose (QMessageBox::NoButton when the box was closed otherwise).
// While an answerer is installed, no box is shown: the answerer is asked.
QMessageBox::StandardButton ShowMessage(MessageKind kind, const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QWidget *parent = nullptr);

// True while a box shown by ShowMessage is open. A timer tick that would show
// a box checks it first, so that boxes opened from ticks never stack.
bool MessageShowing();

// Tests: every later ShowMessage calls answerer instead of showing a box.
// An empty function restores the real boxes.
using MessageAnswerer = std::function<QMessageBox::StandardButton(
    MessageKind kind, const QString &text, QMessageBox::StandardButtons buttons)>;
void SetMessageAnswerer(MessageAnswerer answerer);

// Asks for the name of a file to save in the platform's save dialog, which
// asks before replacing a file, opened on proposed; filter lists the kinds of
// file offered. Returns the path chosen, empty when the user cancelled. Counts
// as an open box for MessageShowing(). While a save answerer is installed it
// is asked instead; while only a message answerer is, the dialog counts as
// cancelled (a test never meets a real dialog it did not ask for).
QString AskSaveFileName(const QString &caption, const QString &proposed, const QString &filter,
                        QWidget *parent = nullptr);
using SaveFileAnswerer = std::function<QString(const QString &caption, const QString &proposed)>;
void SetSaveFileAnswerer(SaveFileAnswerer answerer);

#endif
