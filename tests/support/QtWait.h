// QtWait: what the programs that drive the windows share (the window tests
// and the soak driver): readable QString values in failure messages, a wait
// that keeps the event loop running, and a hook into a modal dialog.
#ifndef NIVELIX_QTWAIT_H
#define NIVELIX_QTWAIT_H

#include <functional>
#include <ostream>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QWidget>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

// Runs the event loop, deferred deletions included, until done() or ms ran out.
inline bool WaitUntil(const std::function<bool()> &done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(2);
  }
  return true;
}

// Runs body once dialog is on screen: a modal dialog's exec() is entered
// from the action that opens it, so the user's part runs from its event loop.
inline void WhenShown(QWidget *dialog, std::function<void()> body) {
  auto *poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, dialog, body] {
    if (!dialog->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    body();
  });
  poll->start();
}

#endif
