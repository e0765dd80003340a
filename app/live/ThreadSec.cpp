#include "ThreadSec.h"

#include <mutex>

const char *const CloseEventName = "EvenementFermer";

namespace {

std::atomic<int> liveWorkers{0};

TThreadSec::StepHook &Hook() {
  static TThreadSec::StepHook hook;
  return hook;
}

}  // namespace

TThreadSec::TThreadSec(int panelNumber, QObject *window, std::function<void(int)> removePanel)
    : PanelNumber(panelNumber),
      CloseEvent(std::make_unique<TEvenementNomme>(CloseEventName)),
      m_seenGeneration(CloseEvent->Generation()),
      m_window(window),
      m_removePanel(std::move(removePanel)) {
  ++liveWorkers;
  // Free on terminate: the object lives on the user-interface thread, which
  // deletes it once the body has returned (QThread waits for the very end).
  connect(this, &QThread::finished, this, &QObject::deleteLater);
  start();
}

TThreadSec::~TThreadSec() { --liveWorkers; }

void TThreadSec::SetStepHook(StepHook hook) { Hook() = std::move(hook); }

int TThreadSec::LiveCount() { return liveWorkers.load(); }

void TThreadSec::Execute() {
  const StepHook &hook = Hook();
  if (hook) hook(PanelNumber, Step::BeforeWait);
  CloseEvent->WaitSignalAfter(m_seenGeneration);
  if (hook) hook(PanelNumber, Step::Woken);
  CloseEvent->Reset();
  if (hook) hook(PanelNumber, Step::AfterReset);
  // This object lives on the user-interface thread, so the call runs there;
  // the worker waits until it has. Should the event loop be gone, the pending
  // call is dropped and the wait released with it.
  QMetaObject::invokeMethod(
      this, [this] { RemovePanel(); }, Qt::BlockingQueuedConnection);
}

void TThreadSec::RemovePanel() {
  if (m_window && m_removePanel) m_removePanel(PanelNumber);
}
