// ThreadSec: the worker that removes a stopped angle panel.
//
// A panel cannot destroy itself inside its own Stop handler. Its Stop button
// has the main window start one TThreadSec carrying the panel's number, then
// signals the named event "EvenementFermer". The worker wakes, resets the
// event, runs the removal on the user-interface thread and waits until it
// has run, then ends and frees itself.
//
// All panels and workers share the one event, so two quick Stop clicks can
// interleave: worker 1 wakes, panel 2 signals the still signalled event,
// worker 1 resets it before worker 2 has begun to wait. Each worker
// therefore remembers the event's signal count when it is created (on the
// user-interface thread, before its panel signals) and waits for a newer
// signal rather than for the state, so no close is lost.
#ifndef NIVELIX_THREADSEC_H
#define NIVELIX_THREADSEC_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QPointer>
#include <QThread>

#include "EvenementNomme.h"

// Name of the event that the panels and the workers share.
extern const char *const CloseEventName;

class TThreadSec final : public QThread {
  Q_OBJECT
 public:
  // Starts at once. removePanel runs on the user-interface thread with
  // panelNumber, unless window has been destroyed by then. Create it on the
  // user-interface thread only; it frees itself when done.
  TThreadSec(int panelNumber, QObject *window, std::function<void(int)> removePanel);
  ~TThreadSec() override;

  const int PanelNumber;

  // The steps of Execute, for tests that force an interleaving.
  enum class Step { BeforeWait, Woken, AfterReset };
  // Called on the worker thread at each step; set before any worker starts.
  using StepHook = std::function<void(int panelNumber, Step step)>;
  static void SetStepHook(StepHook hook);

  // Workers alive in the process (created and not yet freed).
  static int LiveCount();

 protected:
  void run() override { Execute(); }

 private:
  void Execute();
  // On the user-interface thread.
  void RemovePanel();

  std::unique_ptr<TEvenementNomme> CloseEvent;
  uint64_t m_seenGeneration;
  QPointer<QObject> m_window;
  std::function<void(int)> m_removePanel;
};

#endif
