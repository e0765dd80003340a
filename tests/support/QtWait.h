// QtWait: what window tests share: readable QString values in failure
// messages, and a wait that keeps the event loop running.
#ifndef NIVELIX_QTWAIT_H
#define NIVELIX_QTWAIT_H

#include <functional>
#include <ostream>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QString>
#include <QThread>

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

#endif
